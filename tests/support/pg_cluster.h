// PostgreSQL servers for tests: the run's own (TestPgUri, from the
// pg_cluster fixture) and private ones a test starts, stops and restarts
// itself (PrivatePgCluster), both through scripts/pg-cluster. Native only.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include <gtest/gtest.h>

#ifndef REGKEY_PG_CLUSTER_SCRIPT
#error "REGKEY_PG_CLUSTER_SCRIPT names scripts/pg-cluster (regkey_pg_target in CMake)"
#endif

namespace regkey::test {

// The URI of this test program's database on the run's server. A test that
// needs the server fails when the fixture gave it none.
inline std::string TestPgUri() {
  const char* uri = std::getenv("REGKEY_TEST_PG_URI");
  if (uri == nullptr || *uri == '\0') {
    ADD_FAILURE() << "REGKEY_TEST_PG_URI is not set: run this test through ctest, which starts "
                     "the PostgreSQL server (fixture pg_cluster)";
    return "";
  }
  return uri;
}

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

// Runs `command` through /bin/sh; its standard output without the trailing
// newline, and whether it exited 0.
inline bool RunShell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  std::string text;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    text.append(chunk, got);
  const int status = ::pclose(pipe);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (output != nullptr) *output = text;
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs SQL on the database `uri` names (as its superuser there, for the
// fixture's and private clusters); the rows, unaligned, '|' between fields.
inline bool Psql(const std::string& uri, const std::string& sql, std::string* rows = nullptr) {
  return RunShell("psql -X -q -A -t -v ON_ERROR_STOP=1 -d " + ShellQuote(uri) + " -c " +
                      ShellQuote(sql) + " 2>&1",
                  rows);
}

// A cluster of a test's own, so that stopping or restarting it disturbs no
// other test: in REGKEY_TEST_PG_PRIVATE_DIR/NAME (or ./NAME), started by the
// constructor (data kept from an earlier run), stopped by the destructor.
class PrivatePgCluster {
 public:
  explicit PrivatePgCluster(const std::string& name) {
    const char* base = std::getenv("REGKEY_TEST_PG_PRIVATE_DIR");
    dir_ = (base != nullptr && *base != '\0' ? std::string(base) + "/" : std::string()) + name;
    if (base != nullptr) RunShell("mkdir -p " + ShellQuote(base));
    started_ = Script("start", &uri_, kFast);
    if (!started_)
      ADD_FAILURE() << "could not start a PostgreSQL server in " << dir_ << ": " << uri_;
  }
  ~PrivatePgCluster() { stop(); }
  PrivatePgCluster(const PrivatePgCluster&) = delete;
  PrivatePgCluster& operator=(const PrivatePgCluster&) = delete;

  bool started() const { return started_; }
  const std::string& dir() const { return dir_; }
  // The database "regkey", made by the script.
  const std::string& uri() const { return uri_; }
  // Another database on this server, created if missing.
  std::string uri(const std::string& database) {
    std::string text;
    if (!Script("start", &text, kFast + " " + ShellQuote(database))) return "";
    Script("uri", &text, " " + ShellQuote(database));
    return text;
  }

  bool stop() {
    if (!started_) return true;
    std::string output;
    if (!Script("stop", &output)) {
      ADD_FAILURE() << "could not stop the PostgreSQL server in " << dir_ << ": " << output;
      return false;
    }
    started_ = false;
    return true;
  }
  bool start() {
    std::string output;
    started_ = Script("start", &output, kFast);
    return started_;
  }
  bool restart() { return stop() && start(); }

 private:
  // Tests never crash the machine, only the server: what a commit wrote
  // reaches the kernel either way.
  static inline const std::string kFast = " --no-fsync";

  bool Script(const char* command, std::string* output, const std::string& more = "") {
    return RunShell(ShellQuote(REGKEY_PG_CLUSTER_SCRIPT) + " " + command + " " + ShellQuote(dir_) +
                        more + " 2>&1",
                    output);
  }

  std::string dir_;
  std::string uri_;
  bool started_ = false;
};

}  // namespace regkey::test
