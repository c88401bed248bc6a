// SQLite storage of received pings and crash reports.
// One connection shared by all threads behind a mutex; each write is its
// own committed statement, durable when the call returns.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

struct PingRow {
  int64_t id = 0;
  std::string time;    // UTC, ISO 8601
  std::string path;    // request path as received
  std::string query;   // raw query, not decoded
  std::string remote;  // client IP address
};

struct ReportRow {
  int64_t id = 0;
  std::string time;
  std::string name;         // sanitised file name the client gave
  int64_t size = 0;         // bytes stored
  std::string stored_path;  // where the body lies on disk
};

class StatsStore {
 public:
  StatsStore() = default;
  ~StatsStore();
  StatsStore(const StatsStore&) = delete;
  StatsStore& operator=(const StatsStore&) = delete;

  // Opens (creating if needed) the database and its tables.
  bool open(const std::string& file);
  // Text of the most recent failure (a copy: other threads may fail next).
  std::string last_error() const;

  bool add_ping(const PingRow& row);
  bool add_report(const ReportRow& row);

  // Rows in id order; `path_filter` keeps only pings of that path.
  bool list_pings(const std::optional<std::string>& path_filter, std::vector<PingRow>& rows);
  bool list_reports(std::vector<ReportRow>& rows);

  // Deletes every ping and report row; hands back the stored report paths
  // so the caller can remove the files.
  bool delete_all(std::vector<std::string>& removed_report_paths);

 private:
  bool execute(const char* sql);
  bool fail(const char* what);

  sqlite3* db_ = nullptr;
  mutable std::mutex mutex_;
  std::string last_error_;
};
