// One connection to a PostgreSQL server through libpq, used without ever
// waiting past a deadline: connecting, sending and reading all poll the
// socket against the time-out, and a connection that misses it is dropped.
//
// Statements are prepared once per connection, on first use, from a fixed
// table; parameters and results travel in binary form, so names and data
// never become SQL text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <libpq-fe.h>

namespace regkey::registry::pg {

// A query's result; frees itself.
class Result {
 public:
  Result() = default;
  explicit Result(PGresult* result) : result_(result) {}
  int Rows() const { return result_ ? PQntuples(result_.get()) : 0; }
  bool Null(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::string Bytes(int row, int column) const;
  std::int64_t Int(int row, int column) const;
  // Rows a data-changing statement touched.
  std::int64_t Affected() const;

 private:
  struct Free {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  std::unique_ptr<PGresult, Free> result_;
};

// Binary parameters for one statement.
class Params {
 public:
  Params& Int(std::int64_t value);
  Params& Bytes(std::string_view bytes);
  // Text, for parameters of type text (ASCII only, by its callers).
  Params& Text(std::string_view text);
  int Count() const { return static_cast<int>(values_.size()); }
  const char* const* Values() const { return values_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<const char*> values_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
  void Add(std::string bytes, int format);
};

struct Statement {
  const char* name;
  const char* sql;
};

class Link {
 public:
  // What went wrong on a failed call.
  enum class Failure {
    kNone,
    kServer,       // the server refused the statement (sqlstate() tells why)
    kLost,         // the connection broke, or the time-out passed
    kUnreachable,  // no connection could be made
  };

  Link(std::string uri, std::chrono::milliseconds timeout, const Statement* statements,
       int statementCount);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  bool Connected() const { return conn_ != nullptr; }
  // Connects when not connected; `fresh` tells whether it did.
  Failure Connect(bool& fresh);
  void Drop();

  // Runs statement `which` of the table (prepared on first use).
  Failure Run(int which, const Params& params, Result& result);
  // Runs fixed SQL text with no parameters (transaction control, schema).
  Failure RunText(const char* sql, Result& result);

  // Reads what the server sent meanwhile without waiting; false when the
  // connection turned out broken (it is dropped).
  bool Poll();
  // Notifications received so far, in the order they came, with the
  // server process that sent each.
  void TakeNotifications(const std::function<void(int pid, const char* payload)>& take);

  const std::string& sqlstate() const { return sqlstate_; }
  int ServerPid() const { return conn_ ? PQbackendPID(conn_) : 0; }

 private:
  Failure Await(Result& result);
  bool WaitSocket(bool forWrite, std::chrono::steady_clock::time_point deadline);
  Failure Prepare(int which);

  std::string uri_;
  std::chrono::milliseconds timeout_;
  const Statement* statements_;
  std::vector<bool> prepared_;
  PGconn* conn_ = nullptr;
  std::string sqlstate_;
};

// Requests this process has sent to PostgreSQL servers, each answered
// before the next is sent: its round trips.
std::uint64_t RoundTripsSoFar();

// The time-out for connecting and for each statement: REGKEY_PG_TIMEOUT_MS
// when set to a number of milliseconds (100 to 3600000), else 10 s.
std::chrono::milliseconds TimeoutFromEnvironment();

}  // namespace regkey::registry::pg
