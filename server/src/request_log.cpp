#include "request_log.h"

#include "json_text.h"

namespace {

std::string header_map_json(const std::vector<HttpHeader>& headers) {
  // Repeated fields are joined with ", " as HTTP allows; names keep the
  // client's spelling.
  std::vector<std::pair<std::string, std::string>> merged;
  for (const HttpHeader& field : headers) {
    bool found = false;
    for (auto& [name, value] : merged) {
      if (name == field.name) {
        value += ", " + field.value;
        found = true;
        break;
      }
    }
    if (!found) merged.emplace_back(field.name, field.value);
  }
  std::string json = "{";
  for (size_t i = 0; i < merged.size(); ++i) {
    if (i > 0) json += ",";
    json += json_quote(merged[i].first) + ":" + json_quote(merged[i].second);
  }
  return json + "}";
}

std::string header_list_json(const std::vector<HttpHeader>& headers) {
  std::string json = "[";
  for (size_t i = 0; i < headers.size(); ++i) {
    if (i > 0) json += ",";
    json += "[" + json_quote(headers[i].name) + "," + json_quote(headers[i].value) + "]";
  }
  return json + "]";
}

}  // namespace

void RequestLog::add(LoggedRequest entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back(std::move(entry));
  while (entries_.size() > kRequestLogCapacity) entries_.pop_front();
}

void RequestLog::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::string RequestLog::to_json() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string json = "[";
  bool first = true;
  for (const LoggedRequest& entry : entries_) {
    if (!first) json += ",\n";
    first = false;
    const HttpRequest& request = entry.request;
    json += "{\"time\":" + json_quote(entry.time) + ",\"remote\":" + json_quote(entry.remote) +
            ",\"method\":" + json_quote(request.method) + ",\"target\":" + json_quote(request.target) +
            ",\"path\":" + json_quote(request.raw_path) + ",\"query\":" + json_quote(request.raw_query) +
            ",\"version\":" + json_quote(request.version) + ",\"headers\":" + header_map_json(request.headers) +
            ",\"header_list\":" + header_list_json(request.headers) + "}";
  }
  return json + "]\n";
}
