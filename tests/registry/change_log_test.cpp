// The shared change log: numbering, publication, roll-back, overflow and
// long paths.
#include "registry/change_log.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// --- A log in memory that others may have written anything into ---------------

// The header's words, as another process could have left them.
struct RawHeader {
  std::int64_t appended;
  std::int64_t committed;
  std::uint64_t live;
};

class SharedArea : public ::testing::Test {
 protected:
  SharedArea() : area_(new unsigned char[ChangeLog::AreaSize()]) {
    ChangeLog::Initialise(area_.get());
  }
  RawHeader& raw() { return *reinterpret_cast<RawHeader*>(area_.get()); }
  static void AppendAndPublish(ChangeLog& log, const std::string& path) {
    auto one = Changes({path});
    log.Append(one);
    log.Publish(one.back().seq);
  }
  // After a reader was told, it follows the log again.
  static void ExpectFollowing(ChangeLog& log, std::int64_t& seen) {
    AppendAndPublish(log, "HKCU\\after");
    std::vector<ChangeRow> read;
    ASSERT_TRUE(log.ReadSince(seen, read));
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ("HKCU\\after", read[0].path);
  }
  std::unique_ptr<unsigned char[]> area_;
};

TEST_F(SharedArea, NumbersNearOverflowAreRenumberedAndReadersTold) {
  ChangeLog log(area_.get());
  for (int i = 0; i < 5; ++i) AppendAndPublish(log, "HKCU\\A");
  std::int64_t seen = log.Committed();
  for (const std::int64_t damaged : {INT64_MAX, INT64_MAX - 1, ChangeLog::kMaxSeq + 1}) {
    SCOPED_TRACE(damaged);
    raw().appended = damaged;
    raw().committed = damaged;
    std::vector<ChangeRow> read;
    EXPECT_FALSE(log.ReadSince(seen, read));
    // No overflow (UBSan), and the numbers start again from 1.
    auto changes = Changes({"HKCU\\A", "HKCU\\B"});
    EXPECT_EQ(0, log.Append(changes));
    EXPECT_EQ(2, changes.back().seq);
    log.Publish(changes.back().seq);
    // A reader holding the old numbers sees them go back.
    EXPECT_FALSE(log.ReadSince(seen, read));
    ExpectFollowing(log, seen);
    seen = 5;  // for the next round: a reader ahead of the renumbered log
  }
}

TEST_F(SharedArea, ReadersAreToldOfNumbersNoLogHas) {
  ChangeLog log(area_.get());
  for (int i = 0; i < 5; ++i) AppendAndPublish(log, "HKCU\\A");
  const struct {
    const char* what;
    std::int64_t appended;
    std::int64_t committed;
  } cases[] = {
      {"negative", -5, -5},
      {"beyond any log", INT64_MAX, INT64_MAX},
      {"back before the reader", 2, 2},  // a copy from earlier put back in place
      {"appended behind committed", 3, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::int64_t seen = log.Committed();
    raw().appended = c.appended;
    raw().committed = c.committed;
    std::vector<ChangeRow> read;
    EXPECT_FALSE(log.ReadSince(seen, read));
    EXPECT_TRUE(read.empty());
    EXPECT_GE(log.Committed(), 0);
    // The next writer puts the numbers right, and readers follow again.
    AppendAndPublish(log, "HKCU\\B");
    seen = log.Committed();
    ExpectFollowing(log, seen);
    EXPECT_TRUE(ChangeLog::Plausible(area_.get()));
    for (int i = 0; i < 10; ++i) AppendAndPublish(log, "HKCU\\A");
  }
}

TEST_F(SharedArea, SkippingAndLosingTheAreaTellEveryReader) {
  ChangeLog log(area_.get());
  AppendAndPublish(log, "HKCU\\A");
  std::int64_t seen = log.Committed();
  ChangeLog::Skip(area_.get());
  std::vector<ChangeRow> read;
  EXPECT_FALSE(log.ReadSince(seen, read));
  ExpectFollowing(log, seen);
  // Zeros in place of the area (a page lost) are no log: readers are told
  // every time, whatever they hold.
  std::memset(area_.get(), 0, ChangeLog::AreaSize());
  for (const std::int64_t held : {std::int64_t{0}, seen}) {
    seen = held;
    EXPECT_FALSE(log.ReadSince(seen, read));
    EXPECT_FALSE(log.ReadSince(seen, read));
  }
  EXPECT_FALSE(ChangeLog::Plausible(area_.get()));
  EXPECT_EQ(0, log.Committed());
}

}  // namespace
