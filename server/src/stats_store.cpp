#include "stats_store.h"

#include <sqlite3.h>

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS pings("
    "  id INTEGER PRIMARY KEY, time TEXT NOT NULL, path TEXT NOT NULL,"
    "  query TEXT NOT NULL, remote TEXT);"
    "CREATE TABLE IF NOT EXISTS reports("
    "  id INTEGER PRIMARY KEY, time TEXT NOT NULL, name TEXT NOT NULL,"
    "  size INTEGER NOT NULL, stored_path TEXT NOT NULL);";

// Owns a prepared statement for the length of one call.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  sqlite3_stmt* get() const { return statement_; }
  void bind_text(int index, const std::string& text) {
    // Bound with its byte length: queries may hold NUL bytes after decoding.
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void bind_int(int index, int64_t value) { sqlite3_bind_int64(statement_, index, value); }
  std::string column_text(int index) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, index))) : std::string();
  }
  int64_t column_int(int index) const { return sqlite3_column_int64(statement_, index); }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace

StatsStore::~StatsStore() {
  if (db_) sqlite3_close(db_);
}

std::string StatsStore::last_error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_error_;
}

bool StatsStore::fail(const char* what) {
  last_error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
  return false;
}

bool StatsStore::execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  last_error_ = message ? message : "sqlite error";
  sqlite3_free(message);
  return false;
}

bool StatsStore::open(const std::string& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) return fail("open database");
  // The `pings` and `reports` commands may read while the server writes.
  sqlite3_busy_timeout(db_, 5000);
  // Rollback journal with full sync: a row is on disk before the HTTP
  // answer goes out, and readers need no WAL side files.
  return execute("PRAGMA synchronous=FULL;") && execute(kSchema);
}

bool StatsStore::add_ping(const PingRow& row) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement insert(db_, "INSERT INTO pings(time, path, query, remote) VALUES(?1, ?2, ?3, ?4)");
  if (!insert.ok()) return fail("prepare ping insert");
  insert.bind_text(1, row.time);
  insert.bind_text(2, row.path);
  insert.bind_text(3, row.query);
  insert.bind_text(4, row.remote);
  return sqlite3_step(insert.get()) == SQLITE_DONE || fail("insert ping");
}

bool StatsStore::add_report(const ReportRow& row) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement insert(db_, "INSERT INTO reports(time, name, size, stored_path) VALUES(?1, ?2, ?3, ?4)");
  if (!insert.ok()) return fail("prepare report insert");
  insert.bind_text(1, row.time);
  insert.bind_text(2, row.name);
  insert.bind_int(3, row.size);
  insert.bind_text(4, row.stored_path);
  return sqlite3_step(insert.get()) == SQLITE_DONE || fail("insert report");
}

bool StatsStore::list_pings(const std::optional<std::string>& path_filter, std::vector<PingRow>& rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement select(db_,
                   path_filter ? "SELECT id, time, path, query, remote FROM pings WHERE path = ?1 ORDER BY id"
                               : "SELECT id, time, path, query, remote FROM pings ORDER BY id");
  if (!select.ok()) return fail("prepare ping list");
  if (path_filter) select.bind_text(1, *path_filter);
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
    rows.push_back({select.column_int(0), select.column_text(1), select.column_text(2), select.column_text(3),
                    select.column_text(4)});
  }
  return step == SQLITE_DONE || fail("list pings");
}

bool StatsStore::list_reports(std::vector<ReportRow>& rows) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement select(db_, "SELECT id, time, name, size, stored_path FROM reports ORDER BY id");
  if (!select.ok()) return fail("prepare report list");
  int step;
  while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
    rows.push_back({select.column_int(0), select.column_text(1), select.column_text(2), select.column_int(3),
                    select.column_text(4)});
  }
  return step == SQLITE_DONE || fail("list reports");
}

bool StatsStore::delete_all(std::vector<std::string>& removed_report_paths) {
  std::lock_guard<std::mutex> lock(mutex_);
  {
    Statement select(db_, "SELECT stored_path FROM reports");
    if (!select.ok()) return fail("prepare report paths");
    while (sqlite3_step(select.get()) == SQLITE_ROW) removed_report_paths.push_back(select.column_text(0));
  }
  if (execute("BEGIN; DELETE FROM pings; DELETE FROM reports; COMMIT;")) return true;
  const std::string error = last_error_;
  execute("ROLLBACK;");
  last_error_ = error;
  return false;
}
