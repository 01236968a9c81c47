// The store's files on disk: finding the real store file behind the path a
// program gives, and refusing files and folders that another user could
// have placed or could change.
//
// A store is reached by its real path (symbolic links and relative parts
// resolved), so every way of naming it leads to the same SQLite files and the
// same side file. The store file, its -wal and -shm files and the side file
// must be regular files of this user (or root, who may do anything anyway)
// with one name each, not writable by group or others; the store's folder
// must belong to this user or root and be writable by no one else; every
// folder above it must belong to this user or root and, if others may write
// it, be sticky (as /tmp is), so that no one else can swap a folder on the
// way.
#pragma once

#include <sys/stat.h>

#include <string>

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

// Resolves `path` to the real store file, creating it with `mode` when
// missing and `create` is set, and checks it, its folder and its SQLite
// side files. `resolved` gets the path to open. 0 or a Win32 code.
long PrepareStoreFile(const std::string& path, unsigned mode, bool create, std::string& resolved);

}  // namespace regkey::registry
