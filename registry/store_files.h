// The files of a store on disk, for any engine that keeps a store in files:
// finding the real store file or folder behind the path a program gives,
// opening the store's files, and refusing files and folders that another
// user could have placed or could change.
//
// A store is reached by its real path (symbolic links and relative parts
// resolved), so every way of naming it leads to the same files and the same
// side file. Its files must be regular files of this user (or root, who may
// do anything anyway) with one name each, not writable by group or others;
// the store's folder must belong to this user or root and be writable by no
// one else; every folder above it must belong to this user or root and, if
// others may write it, be sticky (as /tmp is), so that no one else can swap
// a folder on the way.
#pragma once

#include <initializer_list>
#include <string>
#include <sys/stat.h>

namespace regkey::registry {

// The Win32 code for an errno value met while opening a store's file.
long CodeFromErrno(int error);

// 0 when `info` describes a file this process may keep store data in:
// ERROR_CANTOPEN for a folder, ERROR_ACCESS_DENIED for anything else that is
// not a regular file of this user (or root) with one name that only its
// owner writes.
long CheckOwnFile(const struct stat& info);

// 0 when `folder` (an absolute path without links) and the folders above it
// are safe to keep a store in, else ERROR_ACCESS_DENIED.
long CheckFolder(const std::string& folder);

// Opens the file `path` (in a folder CheckFolder accepts) without following
// a link and checks it with CheckOwnFile. `flags`: O_RDONLY or O_RDWR, and
// O_CREAT to create it with `mode` (whatever the umask) when missing,
// O_NONBLOCK so that a named pipe in its place cannot stall the open.
// `created` (when given) tells whether this call made it. 0 with `fd`
// open, or a Win32 code with `fd` -1: ERROR_ACCESS_DENIED for anything in
// its place this process may not trust (a link, a folder, a pipe, a file
// others may write), ERROR_CANTOPEN when nothing is there to open.
long OpenOwnFile(const std::string& path, int flags, unsigned mode, int& fd,
                 bool* created = nullptr);

// 0 when none of the files `base` + suffix is there or each is one
// CheckOwnFile accepts, else ERROR_ACCESS_DENIED (or the code of the error
// met): for the files an engine opens by name next to its store.
long CheckStoreFiles(const std::string& base, std::initializer_list<const char*> suffixes);

// Resolves `path` to the real store file, creating it (empty) with `mode`
// when missing and `create` is set, and checks it and its folder; a file
// that is itself a mount point (another name of a file elsewhere) is
// refused. `resolved` gets the path to open. 0 or a Win32 code.
long PrepareStoreFile(const std::string& path, unsigned mode, bool create, std::string& resolved);

// The same for a store kept as a folder of files: resolves `path` to the
// real folder, creating it with `mode` when missing and `create` is set
// (its parent must exist), and checks it with CheckFolder.
long PrepareStoreFolder(const std::string& path, unsigned mode, bool create, std::string& resolved);

}  // namespace regkey::registry
