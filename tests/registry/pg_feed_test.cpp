// What a commit announces and how watchers read it, without a server: the
// payload's encoding, its limits, and the feed's numbering and losses.
#include "registry/store/postgres/pg_feed.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry/store/postgres/pg_changes.h"

namespace {

using regkey::registry::ChangeRow;
using regkey::registry::kChangeDeleted;
using regkey::registry::kChangeLastSet;
using regkey::registry::kChangeName;
using regkey::registry::kChangeTreeDeleted;
using namespace regkey::registry::pg;

ChangeRow Row(const std::string& path, int kind) {
  ChangeRow row;
  row.path = path;
  row.kind = kind;
  return row;
}

// The server puts the first number in front of what the client sends.
std::string Payload(std::int64_t first, const std::vector<ChangeRow>& changes) {
  return std::to_string(first) + EncodeChanges(changes);
}

TEST(PgChanges, EveryByteOfAPathComesBackExactly) {
  std::string hostile = "HKLM\\it's \"q\" 100% '; DROP TABLE regkey_keys; --\\";
  for (int byte = 0; byte < 256; ++byte) hostile += static_cast<char>(byte);
  const std::vector<ChangeRow> changes = {Row(hostile, kChangeLastSet), Row("HKCU", kChangeName),
                                          Row("HKCU\\x", kChangeDeleted)};
  const std::string payload = Payload(41, changes);
  // Plain ASCII: valid text in any server encoding.
  for (const char c : payload) EXPECT_TRUE(c == '\n' || (c >= ' ' && c <= '~')) << int(c);
  Decoded decoded;
  ASSERT_TRUE(DecodeChanges(payload, decoded));
  EXPECT_EQ(41, decoded.first);
  ASSERT_EQ(3, decoded.count);
  for (std::size_t i = 0; i < changes.size(); ++i) {
    EXPECT_EQ(changes[i].path, decoded.rows[i].path);
    EXPECT_EQ(changes[i].kind, decoded.rows[i].kind);
    EXPECT_FALSE(decoded.rows[i].truncated);
  }
}

TEST(PgChanges, LongPathsAreCutToAPrefixThatFitsAndMarked) {
  // Escaped, each of these bytes takes three: far beyond NOTIFY's limit.
  const std::string deep = "HKLM\\" + std::string(6000, '\xE9') + "\\end";
  const std::vector<ChangeRow> changes = {Row(deep, kChangeName),
                                          Row("HKLM\\short", kChangeLastSet)};
  const std::string payload = Payload(7, changes);
  EXPECT_LE(payload.size(), kMaxPayload);
  Decoded decoded;
  ASSERT_TRUE(DecodeChanges(payload, decoded));
  ASSERT_EQ(2, decoded.count);
  EXPECT_TRUE(decoded.rows[0].truncated);
  EXPECT_EQ(0u, deep.rfind(decoded.rows[0].path, 0)) << "not a prefix of the real path";
  EXPECT_GT(decoded.rows[0].path.size(), 5u);
  EXPECT_FALSE(decoded.rows[1].truncated);
  EXPECT_EQ("HKLM\\short", decoded.rows[1].path);
}

TEST(PgChanges, TooManyChangesBecomeACountThatMatchesEverything) {
  std::vector<ChangeRow> changes;
  for (int i = 0; i < 5000; ++i)
    changes.push_back(Row("HKLM\\tree\\" + std::to_string(i), kChangeTreeDeleted));
  const std::string payload = Payload(100, changes);
  EXPECT_LE(payload.size(), kMaxPayload);
  Decoded decoded;
  ASSERT_TRUE(DecodeChanges(payload, decoded));
  EXPECT_EQ(100, decoded.first);
  EXPECT_EQ(5000, decoded.count);
  ASSERT_EQ(1u, decoded.rows.size());
  EXPECT_TRUE(decoded.rows[0].truncated);
  EXPECT_EQ("", decoded.rows[0].path);
}

TEST(PgChanges, RefusesWhatNoCommitSends) {
  Decoded decoded;
  for (const char* bad :
       {"", "x", "0\n1 HKLM", "-3\n1 HKLM", "5", "5\n", "5\n1HKLM", "5\n3 HKLM", "5\n1 HK LM",
        "5\n1 %G0", "5\n1 %4", "5*", "5*0", "5*-1", "5*999999999999", "5*3x",
        "99999999999999999999999\n1 HKLM", "5\n1 HKLM\n", "5\n1x HKLM"}) {
    EXPECT_FALSE(DecodeChanges(bad, decoded)) << '"' << bad << '"';
  }
  EXPECT_FALSE(DecodeChanges("5\n1 " + std::string(kMaxPayload, 'a'), decoded));
  EXPECT_TRUE(DecodeChanges("5\n1 HKLM\n4t HKLM%5C", decoded));
  EXPECT_EQ("HKLM\\", decoded.rows[1].path);
}

class FeedTest : public ::testing::Test {
 protected:
  Feed feed{[] { return 0L; }, nullptr};

  // Reads from `seen`; false when the feed reports a loss.
  bool Read(std::int64_t& seen, std::vector<ChangeRow>& rows) { return feed.ReadSince(seen, rows); }
};

TEST_F(FeedTest, NumbersWhatArrivesInOrderAndSkipsWhatCameBeforeListening) {
  feed.Listening(10);
  feed.Received(
      Payload(9, {Row("HKLM\\old", kChangeName), Row("HKLM\\old2", kChangeName)}).c_str());
  EXPECT_EQ(0, feed.Committed());
  feed.Received(Payload(11, {Row("HKLM\\a", kChangeLastSet), Row("HKLM\\b", kChangeName)}).c_str());
  feed.Received(Payload(13, {Row("HKLM\\c", kChangeLastSet)}).c_str());
  std::int64_t seen = 0;
  std::vector<ChangeRow> rows;
  ASSERT_TRUE(Read(seen, rows));
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ("HKLM\\a", rows[0].path);
  EXPECT_EQ("HKLM\\c", rows[2].path);
  EXPECT_LT(rows[0].seq, rows[1].seq);
  EXPECT_EQ(feed.Committed(), seen);
  ASSERT_TRUE(Read(seen, rows));
  EXPECT_TRUE(rows.empty());
}

TEST_F(FeedTest, OwnCommitsAreNumberedAtOnceAndNotTwice) {
  feed.Listening(0);
  std::vector<ChangeRow> own = {Row("HKLM\\mine", kChangeLastSet)};
  // Another client's commit (1) is still on its way when this one's (2) is made.
  feed.Own(2, own);
  EXPECT_EQ(feed.Committed(), own[0].seq);
  feed.Received(Payload(1, {Row("HKLM\\theirs", kChangeName)}).c_str());
  feed.Received(Payload(2, {Row("HKLM\\mine", kChangeLastSet)}).c_str());
  std::int64_t seen = 0;
  std::vector<ChangeRow> rows;
  ASSERT_TRUE(Read(seen, rows));
  ASSERT_EQ(2u, rows.size()) << "the own commit came back a second time";
  EXPECT_EQ("HKLM\\mine", rows[0].path);
  EXPECT_EQ("HKLM\\theirs", rows[1].path);
}

TEST_F(FeedTest, GapsGarbageAndLostConnectionsAreReportedOnceToEachReader) {
  feed.Listening(0);
  std::int64_t before = feed.Committed();
  feed.Received(Payload(5, {Row("HKLM\\after-gap", kChangeName)}).c_str());
  std::vector<ChangeRow> rows;
  std::int64_t seen = before;
  EXPECT_FALSE(Read(seen, rows));
  EXPECT_TRUE(Read(seen, rows)) << "a loss is told once";
  // A reader that armed after the loss is not told of it.
  std::int64_t later = feed.Committed();
  feed.Received("not a payload");
  seen = later;
  EXPECT_FALSE(Read(seen, rows));
  // The next announcement that follows on is read again.
  feed.Received(Payload(6, {Row("HKLM\\next", kChangeLastSet)}).c_str());
  ASSERT_TRUE(Read(seen, rows));
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ("HKLM\\next", rows[0].path);
  feed.Lost();
  EXPECT_FALSE(Read(seen, rows));
  // Until listening again, nothing arrives.
  feed.Received(Payload(7, {Row("HKLM\\unheard", kChangeLastSet)}).c_str());
  EXPECT_TRUE(Read(seen, rows));
  EXPECT_TRUE(rows.empty());
}

TEST_F(FeedTest, AReaderFallenBehindWhatIsKeptIsTold) {
  feed.Listening(0);
  std::int64_t seen = feed.Committed();
  for (std::size_t i = 1; i <= Feed::kKept + 10; ++i)
    feed.Received(Payload(static_cast<std::int64_t>(i), {Row("HKLM\\k", kChangeLastSet)}).c_str());
  std::vector<ChangeRow> rows;
  EXPECT_FALSE(Read(seen, rows));
  EXPECT_EQ(feed.Committed(), seen);
}

}  // namespace
