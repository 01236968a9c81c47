// A private PostgreSQL server for a benchmark program, through
// scripts/pg-cluster: started (durable, as users run it, unless
// REGKEY_BENCH_PG_NO_FSYNC=1 asks for the tests' server without fsync) when
// constructed, stopped when destroyed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace regkey::bench {

class PgServer {
 public:
  PgServer(const std::string& script, const std::string& dir) : script_(script), dir_(dir) {
    const char* noSync = std::getenv("REGKEY_BENCH_PG_NO_FSYNC");
    durable_ = noSync == nullptr || std::string(noSync) != "1";
    uri_ = Run("start", durable_ ? "" : " --no-fsync");
  }
  ~PgServer() { Run("stop"); }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Empty when the server could not be started.
  const std::string& uri() const { return uri_; }
  // Whether it syncs each commit to disk.
  bool durable() const { return durable_; }

 private:
  // The command's last line of output; empty when it failed.
  std::string Run(const char* command, const char* options = "") const {
    const std::string line = "'" + script_ + "' " + command + " '" + dir_ + "'" + options;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string text;
    char chunk[512];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
      text.append(chunk, got);
    if (::pclose(pipe) != 0) return "";
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
  }

  std::string script_;
  std::string dir_;
  std::string uri_;
  bool durable_ = true;
};

}  // namespace regkey::bench
