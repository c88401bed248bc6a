// In-memory log of the most recent requests, so tests can check what a
// client actually sent (method, target, header fields). Thread-safe.
#pragma once
#include <deque>
#include <mutex>
#include <string>

#include "http_request.h"

constexpr size_t kRequestLogCapacity = 200;

struct LoggedRequest {
  std::string time;
  std::string remote;
  HttpRequest request;
};

class RequestLog {
 public:
  void add(LoggedRequest entry);  // drops the oldest beyond capacity
  void clear();
  // JSON array, oldest first: [{time, remote, method, target, path, query,
  // version, headers: {name: value}, header_list: [[name, value], ...]}].
  std::string to_json() const;

 private:
  mutable std::mutex mutex_;
  std::deque<LoggedRequest> entries_;
};
