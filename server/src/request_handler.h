// What the server does with one connection: read one request, then answer
// it as a ping, a static file, a crash-report upload or a test control.
#pragma once
#include <string>

#include "connection.h"
#include "fault_table.h"
#include "http_request.h"
#include "request_log.h"
#include "stats_store.h"

struct ServerSettings {
  std::string root;         // served files; must exist
  std::string reports_dir;  // uploaded crash reports; made on demand
};

class RequestHandler {
 public:
  RequestHandler(ServerSettings settings, StatsStore& store);

  // Resolves the root folder; false (with `error`) when it is unusable.
  bool prepare(std::string& error);

  void handle(Connection& connection);

 private:
  struct Exchange;  // one request with its connection and early body bytes

  void route(Exchange& exchange);
  void handle_test_control(Exchange& exchange);
  void handle_get_or_head(Exchange& exchange, const std::string& path, const Fault& fault);
  void handle_report_upload(Exchange& exchange);
  void record_ping_and_answer(Exchange& exchange, const std::string& path, const Fault& fault);
  // The file under the root that `path` names, if it is a regular file inside it.
  bool resolve_file(const std::string& path, std::string& file) const;

  ServerSettings settings_;
  std::string root_real_;  // canonical root, for the symlink escape check
  StatsStore& store_;
  FaultTable faults_;
  RequestLog log_;
};
