#include "registry/store/postgres/pg_link.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace regkey::registry::pg {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> roundTrips{0};

bool StartsWith(const std::string& text, const char* start) {
  return text.compare(0, std::strlen(start), start) == 0;
}

// Errors that mean the session is gone, whatever libpq's status says.
bool SessionEnded(const std::string& sqlstate) {
  return sqlstate.empty() || StartsWith(sqlstate, "08") || sqlstate == "57P01" ||
         sqlstate == "57P02" || sqlstate == "57P03";
}

}  // namespace

std::string Result::Bytes(int row, int column) const {
  const char* value = PQgetvalue(result_.get(), row, column);
  const int length = PQgetlength(result_.get(), row, column);
  if (value == nullptr || length <= 0) return {};
  return std::string(value, static_cast<std::size_t>(length));
}

std::int64_t Result::Int(int row, int column) const {
  const auto* value =
      reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row, column));
  const int length = PQgetlength(result_.get(), row, column);
  if (value == nullptr || (length != 2 && length != 4 && length != 8)) return 0;
  // Big-endian, sign-extended from its width.
  std::uint64_t bits = (value[0] & 0x80) ? ~std::uint64_t{0} : 0;
  for (int i = 0; i < length; ++i) bits = (bits << 8) | value[i];
  return static_cast<std::int64_t>(bits);
}

std::int64_t Result::Affected() const {
  const char* text = result_ ? PQcmdTuples(result_.get()) : nullptr;
  std::int64_t count = 0;
  if (text != nullptr) std::from_chars(text, text + std::strlen(text), count);
  return count;
}

void Params::Add(std::string bytes, int format) {
  storage_.push_back(std::move(bytes));
  values_.clear();
  for (const std::string& stored : storage_) values_.push_back(stored.data());
  lengths_.push_back(static_cast<int>(storage_.back().size()));
  formats_.push_back(format);
}

Params& Params::Int(std::int64_t value) {
  std::string bytes(8, '\0');
  auto bits = static_cast<std::uint64_t>(value);
  for (int i = 7; i >= 0; --i, bits >>= 8)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(bits & 0xFF);
  Add(std::move(bytes), 1);
  return *this;
}

Params& Params::Bytes(std::string_view bytes) {
  Add(std::string(bytes), 1);
  return *this;
}

Params& Params::Text(std::string_view text) {
  Add(std::string(text), 0);
  return *this;
}

Link::Link(std::string uri, std::chrono::milliseconds timeout, const Statement* statements,
           int statementCount)
    : uri_(std::move(uri)),
      timeout_(timeout),
      statements_(statements),
      prepared_(static_cast<std::size_t>(statementCount), false) {}

Link::~Link() { Drop(); }

void Link::Drop() {
  if (conn_ != nullptr) PQfinish(conn_);
  conn_ = nullptr;
  std::fill(prepared_.begin(), prepared_.end(), false);
}

bool Link::WaitSocket(bool forWrite, Clock::time_point deadline) {
  const int fd = PQsocket(conn_);
  if (fd < 0) return false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, static_cast<short>(forWrite ? POLLOUT | POLLIN : POLLIN), 0};
    const int ready =
        ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

Link::Failure Link::Connect(bool& fresh) {
  fresh = false;
  if (conn_ != nullptr) return Failure::kNone;
  const auto deadline = Clock::now() + timeout_;
  // libpq's own limit as well, in whole seconds; the URI's values win over
  // these defaults (dbname comes last and is expanded).
  const std::string seconds = std::to_string(std::max<long long>(
      2, std::chrono::duration_cast<std::chrono::seconds>(timeout_).count() + 1));
  const char* const keywords[] = {"connect_timeout",
                                  "keepalives_idle",
                                  "keepalives_interval",
                                  "keepalives_count",
                                  "fallback_application_name",
                                  "dbname",
                                  nullptr};
  const char* const values[] = {seconds.c_str(), "10", "5", "3", "regkey", uri_.c_str(), nullptr};
  conn_ = PQconnectStartParams(keywords, values, 1);
  if (conn_ == nullptr) return Failure::kUnreachable;
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (status != PGRES_POLLING_OK) {
    if (status == PGRES_POLLING_FAILED || PQstatus(conn_) == CONNECTION_BAD ||
        !WaitSocket(status == PGRES_POLLING_WRITING, deadline)) {
      Drop();
      return Failure::kUnreachable;
    }
    status = PQconnectPoll(conn_);
  }
  if (PQsetnonblocking(conn_, 1) != 0) {
    Drop();
    return Failure::kUnreachable;
  }
  // The server gives up on a statement, or on a transaction left idle by a
  // client that went away, a little before this side would.
  Params params;
  params.Text(std::to_string(std::max<long long>(50, timeout_.count() * 9 / 10)));
  Result result;
  if (!PQsendQueryParams(conn_,
                         "SELECT set_config('statement_timeout', $1, false), "
                         "set_config('idle_in_transaction_session_timeout', $1, false)",
                         params.Count(), nullptr, params.Values(), params.Lengths(),
                         params.Formats(), 0)) {
    Drop();
    return Failure::kUnreachable;
  }
  if (Await(result) != Failure::kNone) {
    Drop();
    return Failure::kUnreachable;
  }
  fresh = true;
  return Failure::kNone;
}

Link::Failure Link::Await(Result& out) {
  const auto deadline = Clock::now() + timeout_;
  sqlstate_.clear();
  roundTrips.fetch_add(1, std::memory_order_relaxed);
  for (;;) {
    const int flushed = PQflush(conn_);
    if (flushed == 0) break;
    if (flushed < 0 || !WaitSocket(true, deadline) || !PQconsumeInput(conn_)) {
      Drop();
      return Failure::kLost;
    }
  }
  Result kept;
  bool failed = false;
  for (;;) {
    while (PQisBusy(conn_)) {
      if (!WaitSocket(false, deadline) || !PQconsumeInput(conn_)) {
        Drop();
        return Failure::kLost;
      }
    }
    PGresult* next = PQgetResult(conn_);
    if (next == nullptr) break;
    const ExecStatusType status = PQresultStatus(next);
    const bool error = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
    if (error && !failed) {
      const char* state = PQresultErrorField(next, PG_DIAG_SQLSTATE);
      sqlstate_ = state != nullptr ? state : "";
    }
    // The first error is the one to report.
    if (!failed)
      kept = Result(next);
    else
      PQclear(next);
    failed = failed || error;
  }
  if (PQstatus(conn_) == CONNECTION_BAD || (failed && SessionEnded(sqlstate_))) {
    Drop();
    return Failure::kLost;
  }
  out = std::move(kept);
  return failed ? Failure::kServer : Failure::kNone;
}

Link::Failure Link::Prepare(int which) {
  if (!PQsendPrepare(conn_, statements_[which].name, statements_[which].sql, 0, nullptr)) {
    Drop();
    return Failure::kLost;
  }
  Result result;
  const Failure failure = Await(result);
  if (failure == Failure::kNone) prepared_[static_cast<std::size_t>(which)] = true;
  return failure;
}

Link::Failure Link::Run(int which, const Params& params, Result& result) {
  if (conn_ == nullptr) return Failure::kLost;
  if (!prepared_[static_cast<std::size_t>(which)]) {
    if (const Failure failure = Prepare(which); failure != Failure::kNone) return failure;
  }
  if (!PQsendQueryPrepared(conn_, statements_[which].name, params.Count(), params.Values(),
                           params.Lengths(), params.Formats(), 1)) {
    Drop();
    return Failure::kLost;
  }
  return Await(result);
}

Link::Failure Link::RunText(const char* sql, Result& result) {
  if (conn_ == nullptr) return Failure::kLost;
  if (!PQsendQuery(conn_, sql)) {
    Drop();
    return Failure::kLost;
  }
  return Await(result);
}

bool Link::Poll() {
  if (conn_ == nullptr) return true;
  if (!PQconsumeInput(conn_) || PQstatus(conn_) == CONNECTION_BAD) {
    Drop();
    return false;
  }
  return true;
}

void Link::TakeNotifications(const std::function<void(int, const char*)>& take) {
  if (conn_ == nullptr) return;
  while (PGnotify* notice = PQnotifies(conn_)) {
    take(notice->be_pid, notice->extra != nullptr ? notice->extra : "");
    PQfreemem(notice);
  }
}

std::uint64_t RoundTripsSoFar() { return roundTrips.load(std::memory_order_relaxed); }

std::chrono::milliseconds TimeoutFromEnvironment() {
  constexpr std::chrono::milliseconds kDefault(10'000);
  const char* text = std::getenv("REGKEY_PG_TIMEOUT_MS");
  if (text == nullptr || *text == '\0') return kDefault;
  long long value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end || value < 100 || value > 3'600'000) return kDefault;
  return std::chrono::milliseconds(value);
}

}  // namespace regkey::registry::pg
