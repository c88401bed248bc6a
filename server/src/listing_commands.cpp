#include "listing_commands.h"

#include <cstdio>
#include <string>
#include <vector>

#include "ping_json.h"
#include "stats_store.h"

namespace {

bool open_store(const CommandLine& command_line, StatsStore& store) {
  const std::optional<std::string> db = command_line.option("db");
  if (!db) {
    std::fprintf(stderr, "orlix_server %s: --db FILE is required\n", command_line.command.c_str());
    return false;
  }
  if (!store.open(*db)) {
    std::fprintf(stderr, "orlix_server: %s\n", store.last_error().c_str());
    return false;
  }
  return true;
}

}  // namespace

int run_pings_command(const CommandLine& command_line) {
  StatsStore store;
  if (!open_store(command_line, store)) return 2;
  std::vector<PingRow> rows;
  if (!store.list_pings(command_line.option("path"), rows)) {
    std::fprintf(stderr, "orlix_server: %s\n", store.last_error().c_str());
    return 1;
  }
  if (command_line.flag("json")) {
    std::fputs(pings_to_json(rows).c_str(), stdout);
    return 0;
  }
  for (const PingRow& row : rows) {
    std::printf("%lld\t%s\t%s\t%s\n", static_cast<long long>(row.id), row.time.c_str(), row.path.c_str(),
                row.query.c_str());
  }
  return 0;
}

int run_reports_command(const CommandLine& command_line) {
  StatsStore store;
  if (!open_store(command_line, store)) return 2;
  std::vector<ReportRow> rows;
  if (!store.list_reports(rows)) {
    std::fprintf(stderr, "orlix_server: %s\n", store.last_error().c_str());
    return 1;
  }
  for (const ReportRow& row : rows) {
    std::printf("%lld\t%s\t%s\t%lld\t%s\n", static_cast<long long>(row.id), row.time.c_str(), row.name.c_str(),
                static_cast<long long>(row.size), row.stored_path.c_str());
  }
  return 0;
}
