#include "request_handler.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "body_delivery.h"
#include "byte_ranges.h"
#include "ping_json.h"
#include "report_files.h"
#include "url_text.h"
#include "utc_time.h"

namespace {

// A client gets this long to send its request head, and between body reads.
constexpr int kReadTimeoutMs = 30'000;
constexpr size_t kReadChunkBytes = 64 * 1024;
constexpr uint64_t kMaxReportBytes = 512ull * 1024 * 1024;
constexpr std::string_view kTestPrefix = "/__test/";

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Pings are the "NAME.htm" addresses at the top of the server. Deeper
// addresses belong to published files: a missing "/update/ConfigTavrel.htm"
// must answer 404 (nothing published), not be taken for a ping.
bool is_ping_path(std::string_view path) {
  const bool top_level = path.find_first_of("/\\", 1) == std::string_view::npos;
  return top_level && path.size() > 5 && ends_with(path, ".htm");
}

// Answers with a short text body (only the head for HEAD requests).
void answer_text(Connection& connection, int status, std::string text, bool head_only = false,
                 std::string content_type = "text/plain; charset=utf-8") {
  ResponseHead head;
  head.status = status;
  head.content_type = std::move(content_type);
  if (status == 405) head.extra_fields.emplace_back("Allow", "GET, HEAD, POST");
  deliver_response(connection, head, ResponseBody::from_text(std::move(text)), FaultMode::None, head_only);
}

// Parses a Content-Length value: decimal digits only, no sign, no overflow.
bool parse_content_length(const std::string& text, uint64_t& length) {
  if (text.empty() || text.size() > 18) return false;
  length = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    length = length * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

// Streams `length` body bytes to `fd`, starting with those already read
// with the head: reports can be large minidumps, never held in memory.
bool receive_body_to_file(Connection& connection, const std::string& early_bytes, uint64_t length, int fd) {
  std::string chunk = early_bytes.substr(0, static_cast<size_t>(std::min<uint64_t>(length, early_bytes.size())));
  uint64_t received = 0;
  for (;;) {
    if (!chunk.empty()) {
      for (size_t written = 0; written < chunk.size();) {
        const ssize_t wrote = ::write(fd, chunk.data() + written, chunk.size() - written);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        written += static_cast<size_t>(wrote);
      }
      received += chunk.size();
      chunk.clear();
    }
    if (received == length) return true;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadChunkBytes, length - received));
    if (connection.read_some(chunk, want, kReadTimeoutMs) != IoResult::Ok) return false;
  }
}

// A hold time in whole seconds, 1 to 3600; 0 for anything else.
int parse_hold_seconds(const std::string& text) {
  if (text.empty() || text.size() > 4) return 0;
  int seconds = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds <= 3600 ? seconds : 0;
}

}  // namespace

struct RequestHandler::Exchange {
  Connection& connection;
  HttpRequest request;
  std::string early_body;  // bytes read together with the head
  bool head_only() const { return request.method == "HEAD"; }
};

RequestHandler::RequestHandler(ServerSettings settings, StatsStore& store)
    : settings_(std::move(settings)), store_(store) {}

bool RequestHandler::prepare(std::string& error) {
  char resolved[PATH_MAX];
  struct stat info {};
  if (!realpath(settings_.root.c_str(), resolved) || stat(resolved, &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = "root is not a folder: " + settings_.root;
    return false;
  }
  root_real_ = resolved;
  return true;
}

void RequestHandler::handle(Connection& connection) {
  std::string buffer;
  size_t head_end = std::string::npos;
  while (head_end == std::string::npos) {
    const IoResult read = connection.read_some(buffer, 4096, kReadTimeoutMs);
    if (read == IoResult::TimedOut && !buffer.empty()) return answer_text(connection, 408, "request timeout\n");
    if (read != IoResult::Ok) return;  // gone, stopping or silent: nothing to answer
    head_end = find_head_end(buffer);
    if ((head_end == std::string::npos && buffer.size() > kMaxRequestHeadBytes) ||
        (head_end != std::string::npos && head_end > kMaxRequestHeadBytes)) {
      return answer_text(connection, 431, "request head too large\n");
    }
  }

  Exchange exchange{connection, {}, buffer.substr(head_end)};
  switch (parse_request_head(std::string_view(buffer).substr(0, head_end), exchange.request)) {
    case HeadParseResult::Ok:
      return route(exchange);
    case HeadParseResult::UnsupportedVersion:
      return answer_text(connection, 505, "HTTP/1.0 and HTTP/1.1 only\n");
    case HeadParseResult::Malformed:
      return answer_text(connection, 400, "bad request\n");
  }
}

void RequestHandler::route(Exchange& exchange) {
  const HttpRequest& request = exchange.request;
  // Test controls stay out of the request log, so a test that reads the log
  // sees only the traffic of the client under test.
  if (starts_with(request.raw_path, kTestPrefix)) return handle_test_control(exchange);
  log_.add({utc_iso_now(), exchange.connection.remote_address(), request});

  const std::optional<std::string> path = percent_decode(request.raw_path, false);
  if (!path || path->find('\0') != std::string::npos) {
    return answer_text(exchange.connection, 400, "bad path\n", exchange.head_only());
  }
  if (has_parent_segment(*path)) return answer_text(exchange.connection, 403, "forbidden\n", exchange.head_only());

  const Fault armed = faults_.lookup(*path);
  const FaultMode fault = armed.mode;
  if (fault == FaultMode::NotFound) return answer_text(exchange.connection, 404, "not found\n", exchange.head_only());
  if (fault == FaultMode::ServerError) {
    return answer_text(exchange.connection, 500, "server error", exchange.head_only());
  }
  if (fault == FaultMode::Redirect) {
    ResponseHead head;
    head.status = 302;
    head.extra_fields.emplace_back("Location", armed.location);
    deliver_response(exchange.connection, head, ResponseBody::from_text("moved\n"), FaultMode::None,
                     exchange.head_only());
    return;
  }

  if (request.method == "GET" || request.method == "HEAD") return handle_get_or_head(exchange, *path, armed);
  if (request.method == "POST" && *path == "/report") return handle_report_upload(exchange);
  answer_text(exchange.connection, 405, "method not allowed\n", exchange.head_only());
}

bool RequestHandler::resolve_file(const std::string& path, std::string& file) const {
  const std::string candidate = root_real_ + path;
  char resolved[PATH_MAX];
  struct stat info {};
  if (!realpath(candidate.c_str(), resolved) || stat(resolved, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  // A symbolic link inside the root must not lead outside it.
  if (!starts_with(resolved, root_real_ + "/")) return false;
  file = resolved;
  return true;
}

void RequestHandler::handle_get_or_head(Exchange& exchange, const std::string& path, const Fault& fault) {
  std::string file;
  if (resolve_file(path, file)) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
      if (fd >= 0) close(fd);
      return answer_text(exchange.connection, 404, "not found\n", exchange.head_only());
    }
    ResponseHead head;
    head.content_type = content_type_for(file);
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    const std::string etag = file_entity_tag(info.st_mtim.tv_sec, info.st_mtim.tv_nsec, size, info.st_ino);
    const std::string last_modified = http_date_of(info.st_mtim.tv_sec);
    head.extra_fields.emplace_back("ETag", etag);
    head.extra_fields.emplace_back("Last-Modified", last_modified);
    RangeDecision range;
    if (fault.mode != FaultMode::NoRanges) {
      head.extra_fields.emplace_back("Accept-Ranges", "bytes");
      const std::string* range_text = exchange.request.header("Range");
      if (range_text && exchange.request.method == "GET") {
        range = decide_range(parse_range_header(*range_text), exchange.request.header("If-Range"), size, etag,
                             last_modified);
      }
    }
    if (range.kind == RangeDecision::Unsatisfiable) {
      head.status = 416;
      head.extra_fields.emplace_back("Content-Range", "bytes */" + std::to_string(size));
      deliver_response(exchange.connection, head, ResponseBody::from_text(""), FaultMode::None, false);
    } else if (range.kind == RangeDecision::Partial) {
      // The shifted fault starts one byte early and says so in its field.
      if (fault.mode == FaultMode::RangeShift && range.first > 0) --range.first;
      head.status = 206;
      head.extra_fields.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                          std::to_string(range.last) + "/" + std::to_string(size));
      deliver_response(exchange.connection, head, ResponseBody::from_file(fd, range.last - range.first + 1, range.first),
                       fault.mode, false, fault.hold_ms, fault.cut_at);
    } else {
      deliver_response(exchange.connection, head, ResponseBody::from_file(fd, size), fault.mode,
                       exchange.head_only(), fault.hold_ms, fault.cut_at);
    }
    close(fd);
    return;
  }
  if (is_ping_path(path)) return record_ping_and_answer(exchange, path, fault);
  answer_text(exchange.connection, 404, "not found\n", exchange.head_only());
}

void RequestHandler::record_ping_and_answer(Exchange& exchange, const std::string& path, const Fault& fault) {
  // Only GET counts as a ping; HEAD just learns that the address answers.
  if (!exchange.head_only()) {
    const PingRow row{0, utc_iso_now(), path, exchange.request.raw_query, exchange.connection.remote_address()};
    if (!store_.add_ping(row)) return answer_text(exchange.connection, 500, "store error: " + store_.last_error());
  }
  ResponseHead head;
  deliver_response(exchange.connection, head, ResponseBody::from_text("ok"), fault.mode, exchange.head_only(),
                   fault.hold_ms);
}

void RequestHandler::handle_report_upload(Exchange& exchange) {
  Connection& connection = exchange.connection;
  const HttpRequest& request = exchange.request;
  const std::string* length_text = request.header("Content-Length");
  if (request.header("Transfer-Encoding") || !length_text) {
    return answer_text(connection, 411, "Content-Length required\n");
  }
  uint64_t length = 0;
  if (!parse_content_length(*length_text, length)) return answer_text(connection, 400, "bad Content-Length\n");
  if (length > kMaxReportBytes) return answer_text(connection, 413, "report too large\n");

  const std::string name = sanitize_report_name(find_param(parse_query(request.raw_query), "file").value_or(""));
  if (!make_directories(settings_.reports_dir)) {
    return answer_text(connection, 500, "cannot create reports folder\n");
  }
  std::string stored_path;
  const int fd = create_report_file(settings_.reports_dir, name, stored_path);
  if (fd < 0) return answer_text(connection, 500, "cannot create report file\n");

  const std::string* expect = request.header("Expect");
  if (expect && *expect == "100-continue" && exchange.early_body.empty()) {
    connection.write_all("HTTP/1.1 100 Continue\r\n\r\n");
  }
  const bool stored = receive_body_to_file(connection, exchange.early_body, length, fd) && fsync(fd) == 0;
  close(fd);
  if (!stored) {
    unlink(stored_path.c_str());
    return answer_text(connection, 400, "incomplete report body\n");
  }
  const ReportRow row{0, utc_iso_now(), name, static_cast<int64_t>(length), stored_path};
  if (!store_.add_report(row)) {
    unlink(stored_path.c_str());
    return answer_text(connection, 500, "store error: " + store_.last_error());
  }
  answer_text(connection, 200, "ok");
}

void RequestHandler::handle_test_control(Exchange& exchange) {
  Connection& connection = exchange.connection;
  const HttpRequest& request = exchange.request;
  if (request.method != "GET") return answer_text(connection, 405, "test controls take GET\n");
  const QueryParams params = parse_query(request.raw_query);
  const std::string& path = request.raw_path;

  if (path == "/__test/fault") {
    const std::optional<std::string> target = find_param(params, "path");
    const std::optional<std::string> mode_name = find_param(params, "mode");
    const std::optional<FaultMode> mode = mode_name ? parse_fault_mode(*mode_name) : std::nullopt;
    if (!target || target->empty() || target->front() != '/') return answer_text(connection, 400, "need path=/...\n");
    if (!mode) return answer_text(connection, 400, "unknown mode\n");
    Fault fault;
    fault.mode = mode.value();
    fault.location = find_param(params, "to").value_or("");
    // A Location goes into the answer head as it is: no line breaks.
    if (fault.mode == FaultMode::Redirect &&
        (fault.location.empty() || fault.location.find_first_of("\r\n") != std::string::npos)) {
      return answer_text(connection, 400, "redirect needs to=LOCATION\n");
    }
    if (const std::optional<std::string> hold = find_param(params, "hold")) {
      // Seconds, 1 to 3600: how long a stall mode holds the connection.
      const int seconds = parse_hold_seconds(*hold);
      if (seconds <= 0) return answer_text(connection, 400, "hold=SECONDS, 1 to 3600\n");
      fault.hold_ms = seconds * 1000;
    }
    if (const std::optional<std::string> at = find_param(params, "at")) {
      // The cut mode's file offset, in bytes.
      if (at->empty() || at->size() > 12 || at->find_first_not_of("0123456789") != std::string::npos) {
        return answer_text(connection, 400, "at=BYTES\n");
      }
      fault.cut_at = std::stoull(*at);
    }
    faults_.arm(*target, fault);
    return answer_text(connection, 200, "ok");
  }
  if (path == "/__test/clear") {
    faults_.clear();
    return answer_text(connection, 200, "ok");
  }
  if (path == "/__test/reset") {
    faults_.clear();
    log_.clear();
    std::vector<std::string> report_files;
    if (!store_.delete_all(report_files)) return answer_text(connection, 500, "store error: " + store_.last_error());
    for (const std::string& file : report_files) unlink(file.c_str());
    return answer_text(connection, 200, "ok");
  }
  if (path == "/__test/pings") {
    std::vector<PingRow> rows;
    if (!store_.list_pings(find_param(params, "path"), rows)) {
      return answer_text(connection, 500, "store error: " + store_.last_error());
    }
    return answer_text(connection, 200, pings_to_json(rows), false, "application/json");
  }
  if (path == "/__test/requests") return answer_text(connection, 200, log_.to_json(), false, "application/json");
  answer_text(connection, 404, "unknown test control\n");
}
