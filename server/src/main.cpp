// orlix_server: local statistics and update server for development and tests.
//
//   orlix_server serve --port P --root DIR --db FILE [--reports DIR] [--bind 127.0.0.1]
//   orlix_server pings --db FILE [--path /active.htm] [--json]
//   orlix_server reports --db FILE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "command_line.h"
#include "listener.h"
#include "listing_commands.h"
#include "request_handler.h"
#include "stats_store.h"
#include "stop_signal.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  orlix_server serve --port P --root DIR --db FILE [--reports DIR] [--bind 127.0.0.1]\n"
    "  orlix_server pings --db FILE [--path /active.htm] [--json]\n"
    "  orlix_server reports --db FILE\n";

int usage_error(const std::string& message) {
  std::fprintf(stderr, "orlix_server: %s\n%s", message.c_str(), kUsage);
  return 2;
}

bool parse_port(const std::string& text, uint16_t& port) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// Reports go beside the database unless a folder is given.
std::string default_reports_dir(const std::string& db) {
  const size_t slash = db.rfind('/');
  return (slash == std::string::npos ? std::string(".") : db.substr(0, slash)) + "/reports";
}

int run_serve_command(const CommandLine& command_line) {
  const auto port_text = command_line.option("port");
  const auto root = command_line.option("root");
  const auto db = command_line.option("db");
  if (!port_text || !root || !db) return usage_error("serve needs --port, --root and --db");
  ListenerSettings listener;
  if (!parse_port(*port_text, listener.port)) return usage_error("bad port: " + *port_text);
  listener.bind_address = command_line.option("bind").value_or("127.0.0.1");

  if (!install_stop_signal()) {
    std::fprintf(stderr, "orlix_server: cannot set up signal handling\n");
    return 1;
  }
  StatsStore store;
  if (!store.open(*db)) {
    std::fprintf(stderr, "orlix_server: %s\n", store.last_error().c_str());
    return 1;
  }
  RequestHandler handler({*root, command_line.option("reports").value_or(default_reports_dir(*db))}, store);
  std::string error;
  if (!handler.prepare(error)) {
    std::fprintf(stderr, "orlix_server: %s\n", error.c_str());
    return 1;
  }
  if (!run_listener(listener, [&handler](Connection& connection) { handler.handle(connection); }, error)) {
    std::fprintf(stderr, "orlix_server: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine command_line;
  std::string error;
  if (!parse_command_line(argc, argv, {"port", "root", "db", "reports", "bind", "path"}, {"json"}, command_line,
                          error)) {
    return usage_error(error);
  }
  if (command_line.command == "serve") return run_serve_command(command_line);
  if (command_line.command == "pings") return run_pings_command(command_line);
  if (command_line.command == "reports") return run_reports_command(command_line);
  if (command_line.command == "--help" || command_line.command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return usage_error("unknown command: " + command_line.command);
}
