// Several "hosts" on one PostgreSQL server: each a registry_host_child
// process with a machine map and a user store of its own, the server's
// database named in its map (under a name of that host's choosing).
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/registry/host_process.h"
#include "tests/support/pg_cluster.h"

namespace {

namespace fs = std::filesystem;
using regkey::test::HostProcess;
using regkey::test::PrivatePgCluster;
using regkey::test::TestPgUri;
using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The Win32 code that starts an answer.
long Code(const std::string& answer) { return std::strtol(answer.c_str(), nullptr, 10); }

bool LostCode(long code) { return code == 53 || code == 1722 || code == 1726; }

// Folders of one test: a map and a user store per host.
class Hosts : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::current_path() / "hosts" / info->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    // Keys of this run, so that runs on a kept database never meet.
    run_ = std::to_string(::getpid());
  }

  // A host whose map gives the `server` machine `uri` (plus `more` lines).
  std::unique_ptr<HostProcess> Host(const std::string& name, const std::string& server,
                                    const std::string& uri, const std::string& more = "",
                                    const std::map<std::string, std::string>& env = {}) {
    const fs::path home = folder_ / name;
    fs::create_directories(home);
    const std::string map = (home / "machines.conf").string();
    std::ofstream(map) << server << " " << uri << "\n" << more;
    ::chmod(map.c_str(), 0600);
    HostProcess::Options options{.env = env};
    options.env["REGKEY_MACHINES"] = map;
    options.env["XDG_DATA_HOME"] = (home / "data").string();
    auto host = std::make_unique<HostProcess>(options);
    EXPECT_TRUE(host->started()) << name;
    return host;
  }

  // A key of this test under HKEY_LOCAL_MACHINE of machine `server`.
  std::string Key(const std::string& server, const std::string& path = "") const {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return "\\\\" + server + "\\HKLM\\Software\\regkey-hosts\\" + run_ + "\\" + info->name() +
           (path.empty() ? "" : "\\" + path);
  }

  fs::path folder_;
  std::string run_;
};

TEST_F(Hosts, WhatOneHostSetsTheOtherReadsWhileEachKeepsItsOwnUserRoot) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  auto office = Host("office", "registry", uri);
  auto home = Host("home", "hq", uri);
  // Names and data in %XX form: quotes, a backslash in a value name, '%',
  // SQL and bytes beyond ASCII all travel unchanged.
  const std::string name = "it%27s%20%22quoted%22%20%5C%20100%25%20%27;%20DROP%20TABLE%20keys;--";
  const std::string data = "caf%C3%A9%00%FF%27%22";
  EXPECT_EQ("0", office->Ask("set " + Key("registry", "App") + " " + name + " " + data));
  EXPECT_EQ("0 caf%C3%A9%00%FF'\"", home->Ask("get " + Key("HQ", "App") + " " + name));
  EXPECT_EQ("0 1 App", home->Ask("list " + Key("hq")));
  EXPECT_EQ("0 2", home->Ask("create " + Key("hq", "App")));

  EXPECT_EQ("0", office->Ask("set HKCU\\Software\\regkey-hosts mine office"));
  EXPECT_EQ("2 -", home->Ask("get HKCU\\Software\\regkey-hosts mine"));
  EXPECT_EQ("", office->Finish());
  EXPECT_EQ("", home->Finish());
}

// The wake is timed from the writer's answer to the watcher's; the median of
// several rounds stands, so that one stall of a busy machine does not decide.
TEST_F(Hosts, AChangeOnOneHostWakesAWaitOnAnotherWithin200Milliseconds) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  auto writer = Host("writer", "server", uri);
  auto watcher = Host("watcher", "server", uri);
  ASSERT_EQ("0 1", writer->Ask("create " + Key("server", "Watched\\Deep")));
  std::vector<long long> wakes;
  for (int round = 0; round < 7; ++round) {
    // REG_NOTIFY_CHANGE_LAST_SET on the subtree.
    ASSERT_EQ("0", watcher->Ask("watch " + Key("server", "Watched") + " 1 4"));
    ASSERT_TRUE(watcher->Send("wait 10000"));
    // The watcher is waiting when the change comes.
    ::usleep(50'000);
    const std::string set = "set " + Key("server", "Watched\\Deep") + " v " + std::to_string(round);
    ASSERT_EQ("0", writer->Ask(set));
    const auto written = Clock::now();
    const std::string woken = watcher->Read(15'000);
    ASSERT_EQ(0u, woken.find("signalled")) << woken;
    wakes.push_back(MillisecondsSince(written));
  }
  // A change outside the watched subtree wakes no one.
  ASSERT_EQ("0", watcher->Ask("watch " + Key("server", "Watched") + " 1 4"));
  ASSERT_EQ("0", writer->Ask("set " + Key("server", "Elsewhere") + " v x"));
  EXPECT_EQ(0u, watcher->Ask("wait 500").find("timeout"));

  std::sort(wakes.begin(), wakes.end());
  const long long median = wakes[wakes.size() / 2];
  std::cout << "wake after a change on another host: median " << median << " ms, slowest "
            << wakes.back() << " ms\n";
  EXPECT_LT(median, 200);
}

// Four hosts write 2,000 values each, alternately into the same two keys.
TEST_F(Hosts, FourHostsWritingIntoTheSameKeysLoseNothing) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  constexpr int kHosts = 4;
  constexpr int kWrites = 2000;
  std::vector<std::unique_ptr<HostProcess>> hosts;
  for (int i = 0; i < kHosts; ++i) hosts.push_back(Host("h" + std::to_string(i), "server", uri));
  const std::string a = Key("server", "A");
  const std::string b = Key("server", "B");
  for (int i = 0; i < kHosts; ++i)
    ASSERT_TRUE(hosts[i]->Send("fill " + a + " " + b + " 0 " + std::to_string(kWrites) + " t" +
                               std::to_string(i)));
  for (int i = 0; i < kHosts; ++i) EXPECT_EQ("0", hosts[i]->Read(240'000)) << "host " << i;
  // Even numbers went to A, odd ones to B: each key misses exactly the others.
  auto checker = Host("checker", "server", uri);
  for (int i = 0; i < kHosts; ++i) {
    const std::string tag = " 0 " + std::to_string(kWrites) + " t" + std::to_string(i);
    EXPECT_EQ("0 1000", checker->Ask("count " + a + tag, 120'000)) << "host " << i;
    EXPECT_EQ("0 1000", checker->Ask("count " + b + tag, 120'000)) << "host " << i;
  }
}

TEST_F(Hosts, AHostKilledMidWriteLosesNothingItWasToldWasDone) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  auto writer = Host("writer", "server", uri);
  ASSERT_TRUE(writer->Send("stream " + Key("server", "Stream") + " s"));
  long done = -1;
  const auto start = Clock::now();
  while (done < 300 && MillisecondsSince(start) < 60'000) {
    const std::string line = writer->Read(10'000);
    if (line == "(no answer)") break;
    done = std::stol(line);
  }
  writer->Kill();
  writer->Wait();
  ASSERT_GE(done, 0) << "the writer reported nothing done";
  auto checker = Host("checker", "server", uri);
  EXPECT_EQ("0 0", checker->Ask("count " + Key("server", "Stream") + " 0 " +
                                std::to_string(done + 1) + " s"));
}

// A host whose role may only read: it reads and is woken by others'
// changes, and each of its writes is refused.
TEST_F(Hosts, AHostOnAReadOnlyRoleReadsAndWatchesAndIsRefusedWrites) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  auto writer = Host("writer", "server", uri);
  ASSERT_EQ("0", writer->Ask("set " + Key("server", "Sub") + " v kept"));
  std::string output;
  ASSERT_TRUE(regkey::test::Psql(
      uri,
      "DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'regkey_hosts_reader') "
      "THEN CREATE ROLE regkey_hosts_reader LOGIN; END IF; END $$; "
      "GRANT SELECT ON ALL TABLES IN SCHEMA public TO regkey_hosts_reader",
      &output))
      << output;
  std::string readerUri = uri;
  const std::size_t user = readerUri.find("user=regkey");
  ASSERT_NE(std::string::npos, user);
  readerUri.replace(user, std::string("user=regkey").size(), "user=regkey_hosts_reader");
  auto reader = Host("reader", "server", readerUri);

  EXPECT_EQ("0 kept", reader->Ask("get " + Key("server", "Sub") + " v"));
  EXPECT_EQ("5", reader->Ask("set " + Key("server", "Sub") + " v changed"));
  EXPECT_EQ("5 0", reader->Ask("create " + Key("server", "Other")));
  EXPECT_EQ("5", reader->Ask("delete " + Key("server", "Sub")));
  EXPECT_EQ("0", reader->Ask("watch " + Key("server") + " 1 4"));
  EXPECT_EQ("0", writer->Ask("set " + Key("server", "Sub") + " v new"));
  EXPECT_EQ(0u, reader->Ask("wait 5000").find("signalled"));
  EXPECT_EQ("0 new", reader->Ask("get " + Key("server", "Sub") + " v"));
  EXPECT_EQ("0 1 Sub", reader->Ask("list " + Key("server")));
}

// A map with a bad line still gives its good ones; the bad one is named
// once, by file and line. A machine whose server cannot be reached, and a
// name the map lacks, are bad network paths.
TEST_F(Hosts, MapProblemsAndUnreachableServersAreReportedAndTheRestWorks) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  const std::string nowhere = "postgresql:///regkey?host=" + (folder_ / "no-server").string();
  auto host = Host("host", "server", uri, "this line is wrong\nghost " + nowhere + "\n",
                   {{"REGKEY_PG_TIMEOUT_MS", "2000"}});
  EXPECT_EQ("0", host->Ask("set " + Key("server") + " v ok"));
  EXPECT_EQ("0 ok", host->Ask("get " + Key("server") + " v"));
  const auto start = Clock::now();
  EXPECT_EQ("53 -", host->Ask("get " + Key("ghost") + " v"));
  EXPECT_EQ("53 -", host->Ask("get " + Key("unknown") + " v"));
  EXPECT_LT(MillisecondsSince(start), 10'000);
  const std::string errors = host->Finish();
  const std::string where = (folder_ / "host" / "machines.conf").string() + ":2: ";
  EXPECT_NE(std::string::npos, errors.find(where)) << errors;
  EXPECT_EQ(errors.find(where), errors.rfind(where)) << errors;
  EXPECT_EQ(std::string::npos, errors.find(":1: ")) << errors;
}

// The server goes away under two hosts and comes back: calls fail with a
// network code within the time-out, then recover; a wait armed before the
// loss is signalled.
TEST_F(Hosts, AServerStoppedMidRunFailsCallsQuicklyAndOnItsReturnTheyRecover) {
  PrivatePgCluster cluster("hosts-restart");
  ASSERT_TRUE(cluster.started());
  const std::map<std::string, std::string> quick = {{"REGKEY_PG_TIMEOUT_MS", "2000"}};
  auto writer = Host("writer", "server", cluster.uri(), "", quick);
  auto watcher = Host("watcher", "server", cluster.uri(), "", quick);
  ASSERT_EQ("0", writer->Ask("set " + Key("server") + " v before"));
  ASSERT_EQ("0", watcher->Ask("watch " + Key("server") + " 1 4"));
  // Nothing changed yet.
  ASSERT_EQ(0u, watcher->Ask("wait 200").find("timeout"));

  ASSERT_TRUE(cluster.stop());
  auto start = Clock::now();
  const std::string lost = writer->Ask("get " + Key("server") + " v", 30'000);
  EXPECT_TRUE(LostCode(Code(lost))) << lost;
  const std::string unsent = writer->Ask("set " + Key("server") + " v during", 30'000);
  EXPECT_TRUE(LostCode(Code(unsent))) << unsent;
  EXPECT_LT(MillisecondsSince(start), 12'000);

  ASSERT_TRUE(cluster.start());
  // The armed request is signalled (at the loss or at the reconnection).
  const std::string woken = watcher->Ask("wait 20000", 30'000);
  EXPECT_EQ(0u, woken.find("signalled")) << woken;
  // The call after a failed one reconnects.
  EXPECT_EQ("0 before", writer->Ask("get " + Key("server") + " v", 30'000));
  EXPECT_EQ("0", writer->Ask("set " + Key("server") + " v after"));
  EXPECT_EQ("0 after", watcher->Ask("get " + Key("server") + " v"));
}

}  // namespace
