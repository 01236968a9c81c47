// The servers tests get: the run's own, reachable only through its socket in
// the build tree, and private ones that survive a restart with their data.
#include "tests/support/pg_cluster.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using regkey::test::PrivatePgCluster;
using regkey::test::Psql;
using regkey::test::TestPgUri;

TEST(PgCluster, TheRunsServerServesThisProgramsOwnDatabaseOnASocketOnly) {
  const std::string uri = TestPgUri();
  ASSERT_FALSE(uri.empty());
  std::string rows;
  ASSERT_TRUE(Psql(uri, "select current_database(), current_setting('listen_addresses')", &rows))
      << rows;
  EXPECT_EQ("pg_cluster_test|", rows);
  EXPECT_NE(std::string::npos, uri.find("host=/")) << uri;
}

TEST(PgCluster, APrivateServerKeepsItsDataAcrossARestartAndIsGoneWhenStopped) {
  PrivatePgCluster cluster("pg_cluster_test");
  ASSERT_TRUE(cluster.started());
  std::string rows;
  ASSERT_TRUE(Psql(
      cluster.uri(),
      "drop table if exists kept; create table kept(n int); insert into kept values (7)", &rows))
      << rows;
  ASSERT_TRUE(cluster.stop());
  EXPECT_FALSE(Psql(cluster.uri(), "select 1", &rows));
  ASSERT_TRUE(cluster.start());
  ASSERT_TRUE(Psql(cluster.uri(), "select n from kept", &rows)) << rows;
  EXPECT_EQ("7", rows);

  const std::string other = cluster.uri("second_db");
  ASSERT_TRUE(Psql(other, "select current_database()", &rows)) << rows;
  EXPECT_EQ("second_db", rows);
}

}  // namespace
