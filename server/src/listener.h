// The listening socket and the thread-per-connection accept loop.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "connection.h"

using ConnectionHandler = std::function<void(Connection&)>;

struct ListenerSettings {
  std::string bind_address = "127.0.0.1";  // must be a loopback IPv4 address
  uint16_t port = 0;                        // 0 picks a free port
};

// Binds, prints "listening on ADDRESS:PORT" to stdout, then serves each
// connection on its own thread until the stop request. Returns once every
// connection thread has finished (or after a short grace period).
// Returns false with `error` set when the socket cannot be set up.
bool run_listener(const ListenerSettings& settings, const ConnectionHandler& handler, std::string& error);
