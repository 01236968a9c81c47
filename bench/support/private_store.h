// Points the process's registry at a store file of its own in the working
// folder (never the user's default store) and removes it at exit.
#pragma once

#ifndef _WIN32
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace regkey::bench {

struct PrivateStore {
  explicit PrivateStore(const std::string& name) {
    path = name + "-" + std::to_string(getpid()) + ".db";
    setenv("REGKEY_STORE", path.c_str(), 1);
  }
  ~PrivateStore() {
    for (const char* suffix : {"", "-wal", "-shm", "-counter"}) unlink((path + suffix).c_str());
  }
  PrivateStore(const PrivateStore&) = delete;
  PrivateStore& operator=(const PrivateStore&) = delete;
  std::string path;
};

}  // namespace regkey::bench
#endif
