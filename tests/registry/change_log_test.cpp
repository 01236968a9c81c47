// The shared change log: numbering, publication, roll-back, overflow and
// long paths.
#include "registry/change_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using regkey::registry::ChangeLog;
using regkey::registry::ChangeRow;

std::vector<ChangeRow> Changes(std::initializer_list<std::string> paths) {
  std::vector<ChangeRow> changes;
  for (const std::string& path : paths) {
    ChangeRow change;
    change.path = path;
    change.kind = regkey::registry::kChangeLastSet;
    changes.push_back(change);
  }
  return changes;
}

TEST(ChangeLog, ReadersSeeOnlyPublishedChangesInOrder) {
  ChangeLog log(nullptr);
  auto first = Changes({"HKCU\\A", "HKCU\\B"});
  EXPECT_EQ(0, log.Append(first));
  EXPECT_EQ(2, first.back().seq);
  std::int64_t seen = 0;
  std::vector<ChangeRow> read;
  ASSERT_TRUE(log.ReadSince(seen, read));
  EXPECT_TRUE(read.empty());  // appended, not yet committed
  log.Publish(2);
  ASSERT_TRUE(log.ReadSince(seen, read));
  ASSERT_EQ(2u, read.size());
  EXPECT_EQ("HKCU\\A", read[0].path);
  EXPECT_EQ(2, read[1].seq);
  EXPECT_EQ(2, seen);

  // A rolled-back write takes its numbers back.
  auto rolledBack = Changes({"HKCU\\C"});
  const std::int64_t start = log.Append(rolledBack);
  log.Abandon(start);
  auto next = Changes({"HKCU\\D"});
  log.Append(next);
  EXPECT_EQ(3, next[0].seq);
  log.Publish(3);
  ASSERT_TRUE(log.ReadSince(seen, read));
  ASSERT_EQ(1u, read.size());
  EXPECT_EQ("HKCU\\D", read[0].path);

  // A late publisher never moves the committed mark back.
  log.Publish(1);
  EXPECT_EQ(3, log.Committed());
}

TEST(ChangeLog, AReaderLeftBehindByAWholeRingIsTold) {
  ChangeLog log(nullptr);
  std::int64_t seen = 0;
  for (std::size_t i = 0; i <= ChangeLog::kSlots; ++i) {
    auto one = Changes({"HKCU\\K" + std::to_string(i)});
    log.Append(one);
    log.Publish(one[0].seq);
  }
  std::vector<ChangeRow> read;
  EXPECT_FALSE(log.ReadSince(seen, read));
  EXPECT_EQ(log.Committed(), seen);
  ASSERT_TRUE(log.ReadSince(seen, read));
  EXPECT_TRUE(read.empty());
}

TEST(ChangeLog, LongPathsAreKeptAsTheirStartAndMarked) {
  ChangeLog log(nullptr);
  const std::string longPath = "HKCU\\" + std::string(ChangeLog::kPathBytes + 100, 'X');
  auto changes = Changes({longPath, "HKCU\\short"});
  log.Append(changes);
  log.Publish(2);
  std::int64_t seen = 0;
  std::vector<ChangeRow> read;
  ASSERT_TRUE(log.ReadSince(seen, read));
  ASSERT_EQ(2u, read.size());
  EXPECT_TRUE(read[0].truncated);
  EXPECT_EQ(longPath.substr(0, ChangeLog::kPathBytes), read[0].path);
  EXPECT_FALSE(read[1].truncated);
  EXPECT_EQ("HKCU\\short", read[1].path);
}

}  // namespace
