// The shared change log: numbering, publication, roll-back, overflow and
// long paths.
#include "registry/change_log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using regkey::registry::ChangeLog;
using regkey::registry::ChangeRow;
using regkey::registry::LogPosition;

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
  LogPosition seen = log.Committed();
  std::vector<ChangeRow> read;
  ASSERT_TRUE(log.ReadSince(seen, read));
  EXPECT_TRUE(read.empty());  // appended, not yet committed
  log.Publish(2);
  ASSERT_TRUE(log.ReadSince(seen, read));
  ASSERT_EQ(2u, read.size());
  EXPECT_EQ("HKCU\\A", read[0].path);
  EXPECT_EQ(2, read[1].seq);
  EXPECT_EQ(2, seen.seq);

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
  EXPECT_EQ(3, log.Committed().seq);
}

TEST(ChangeLog, AReaderLeftBehindByAWholeRingIsTold) {
  ChangeLog log(nullptr);
  LogPosition seen = log.Committed();
  for (std::size_t i = 0; i <= ChangeLog::kSlots; ++i) {
    auto one = Changes({"HKCU\\K" + std::to_string(i)});
    log.Append(one);
    log.Publish(one[0].seq);
  }
  std::vector<ChangeRow> read;
  EXPECT_FALSE(log.ReadSince(seen, read));
  EXPECT_EQ(log.Committed().seq, seen.seq);
  ASSERT_TRUE(log.ReadSince(seen, read));
  EXPECT_TRUE(read.empty());
}

TEST(ChangeLog, LongPathsAreKeptAsTheirStartAndMarked) {
  ChangeLog log(nullptr);
  const std::string longPath = "HKCU\\" + std::string(ChangeLog::kPathBytes + 100, 'X');
  auto changes = Changes({longPath, "HKCU\\short"});
  log.Append(changes);
  log.Publish(2);
  LogPosition seen{log.Committed().generation, 0};
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
  std::uint64_t generation;
};

class SharedArea : public ::testing::Test {
 protected:
  SharedArea() : area_(new unsigned char[ChangeLog::AreaSize()]) {
    ChangeLog::Initialise(area_.get());
  }
  RawHeader& raw() { return *reinterpret_cast<RawHeader*>(area_.get()); }
  void AppendAndPublish(ChangeLog& log, const std::string& path) {
    auto one = Changes({path});
    log.Append(one);
    log.Publish(one.back().seq);
  }
  std::unique_ptr<unsigned char[]> area_;
};

TEST_F(SharedArea, NumbersNearOverflowAreRenumberedAndReadersTold) {
  ChangeLog log(area_.get());
  LogPosition seen = log.Committed();
  for (const std::int64_t damaged : {INT64_MAX, INT64_MAX - 1, ChangeLog::kMaxSeq + 1}) {
    SCOPED_TRACE(damaged);
    raw().appended = damaged;
    raw().committed = damaged;
    // No overflow (UBSan), and the numbers start again from 1.
    auto changes = Changes({"HKCU\\A", "HKCU\\B"});
    EXPECT_EQ(0, log.Append(changes));
    EXPECT_EQ(2, changes.back().seq);
    log.Publish(changes.back().seq);
    std::vector<ChangeRow> read;
    // Readers holding the old numbers may have missed changes.
    EXPECT_FALSE(log.ReadSince(seen, read));
    AppendAndPublish(log, "HKCU\\C");
    ASSERT_TRUE(log.ReadSince(seen, read));
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ("HKCU\\C", read[0].path);
  }
}

TEST_F(SharedArea, ReadersAreToldOfNumbersNoLogHas) {
  ChangeLog log(area_.get());
  AppendAndPublish(log, "HKCU\\A");
  const struct {
    const char* what;
    std::int64_t committed;
    std::int64_t appended;
  } cases[] = {
      {"negative", -5, -5},
      {"beyond any log", INT64_MAX, INT64_MAX},
      {"back before the reader", 0, 0},  // a copy from earlier put back in place
      {"appended behind committed", 7, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LogPosition seen = log.Committed();
    raw().committed = c.committed;
    raw().appended = c.appended;
    std::vector<ChangeRow> read;
    EXPECT_FALSE(log.ReadSince(seen, read));
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(ChangeLog::Plausible(area_.get()) && c.committed != 0);
    // The next writer puts the numbers right, and readers follow again.
    AppendAndPublish(log, "HKCU\\B");
    seen = log.Committed();
    AppendAndPublish(log, "HKCU\\C");
    ASSERT_TRUE(log.ReadSince(seen, read));
    ASSERT_EQ(1u, read.size());
    EXPECT_EQ("HKCU\\C", read[0].path);
    EXPECT_TRUE(ChangeLog::Plausible(area_.get()));
  }
}

TEST_F(SharedArea, ANewGenerationTellsEveryReader) {
  ChangeLog log(area_.get());
  AppendAndPublish(log, "HKCU\\A");
  LogPosition seen = log.Committed();
  ChangeLog::Renew(area_.get());
  std::vector<ChangeRow> read;
  EXPECT_FALSE(log.ReadSince(seen, read));
  ASSERT_TRUE(log.ReadSince(seen, read));
  // A zeroed area (a page lost) is no log: readers are told every time.
  raw().generation = 0;
  EXPECT_FALSE(log.ReadSince(seen, read));
  EXPECT_FALSE(log.ReadSince(seen, read));
  EXPECT_FALSE(ChangeLog::Plausible(area_.get()));
}

}  // namespace
