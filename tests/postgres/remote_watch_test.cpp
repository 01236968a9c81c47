// The remote_watch example on a machine whose registry is the run's
// PostgreSQL server: one process watches, another changes the key.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/pg_cluster.h"

namespace {

namespace fs = std::filesystem;
using regkey::test::RunShell;
using regkey::test::ShellQuote;
using regkey::test::TestPgUri;

// Reads what `pipe` has within `timeoutMs`; false when nothing came.
bool ReadSome(FILE* pipe, std::string& text, int timeoutMs) {
  pollfd ready{::fileno(pipe), POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) <= 0) return false;
  char chunk[4096];
  const ssize_t got = ::read(::fileno(pipe), chunk, sizeof chunk);
  if (got <= 0) return false;
  text.append(chunk, static_cast<std::size_t>(got));
  return true;
}

TEST(RemoteWatchExample, WakesOnAnotherProcesssChangesToAKeyOnANamedMachine) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  const fs::path folder = fs::current_path() / "remote_watch";
  fs::create_directories(folder);
  const std::string map = (folder / "machines.conf").string();
  std::ofstream(map) << "office " << uri << "\n";
  ::chmod(map.c_str(), 0600);
  const std::string path = "Software\\regkey-example\\" + std::to_string(::getpid());
  const std::string run = "REGKEY_MACHINES=" + ShellQuote(map) +
                          " XDG_DATA_HOME=" + ShellQuote((folder / "data").string()) + " " +
                          ShellQuote(REGKEY_REMOTE_WATCH) + " '\\\\office' " + ShellQuote(path);

  FILE* watcher = ::popen((run + " 2 2>&1").c_str(), "r");
  ASSERT_NE(nullptr, watcher);
  std::string seen;
  // Each round: change the key until the watcher reports it (a wake too
  // many is allowed; a change made before the watch is armed is not seen).
  // Each attempt writes new data: rewriting the same data is no change.
  for (const char* color : {"red", "blue"}) {
    const std::size_t from = seen.size();
    const std::string expected = "  color = " + std::string(color);
    for (int attempt = 0; attempt < 10 && seen.find(expected, from) == std::string::npos;
         ++attempt) {
      std::string out;
      ASSERT_TRUE(RunShell(run + " color=" + color + std::to_string(attempt) + " 2>&1", &out))
          << out;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (seen.find(expected, from) == std::string::npos &&
             std::chrono::steady_clock::now() < deadline)
        ReadSome(watcher, seen, 200);
    }
  }
  while (ReadSome(watcher, seen, 5000)) {
  }
  EXPECT_EQ(0, ::pclose(watcher)) << seen;
  EXPECT_EQ(0u, seen.find("watching \\\\office\\HKEY_LOCAL_MACHINE\\" + path + "\n")) << seen;
  EXPECT_NE(std::string::npos, seen.find("changed:\n  color = red")) << seen;
  EXPECT_NE(std::string::npos, seen.find("  color = blue")) << seen;
  EXPECT_EQ(std::string::npos, seen.find("failed")) << seen;
}

}  // namespace
