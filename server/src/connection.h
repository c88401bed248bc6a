// One accepted client socket. All waits are bounded and also end when the
// server is asked to stop, so no connection can hold up shutdown.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

enum class IoResult {
  Ok,
  PeerClosed,  // orderly end of the peer's stream
  TimedOut,    // no progress within the allowed time
  Stopping,    // the server is shutting down
  Failed,      // socket or file error (includes a reset by the peer)
};

class Connection {
 public:
  // Takes ownership of a connected socket and makes it non-blocking.
  Connection(int socket_fd, std::string remote_address);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& remote_address() const { return remote_address_; }

  // Appends up to `max_bytes` to `buffer`; waits at most `timeout_ms` for data.
  IoResult read_some(std::string& buffer, size_t max_bytes, int timeout_ms);

  IoResult write_all(std::string_view data);

  // Sends `count` bytes of an open file from `offset` with sendfile().
  IoResult send_file_range(int file_fd, off_t offset, uint64_t count);

  // Waits `milliseconds` unless the server stops first.
  IoResult pause(int milliseconds);

  // Holds the connection open, sending nothing, until the peer closes it,
  // the server stops or `max_ms` passes. Incoming bytes are discarded.
  IoResult hold_open(int max_ms);

  // Ends the connection: FIN first, then a short drain of what the peer
  // still sends, so that our last bytes are not lost to a reset.
  void close_gracefully();

 private:
  // Waits for `events` on the socket or for the stop request.
  IoResult wait_for(short events, int timeout_ms);

  int fd_;
  std::string remote_address_;
};

// Longest time a write may make no progress before the client is dropped.
constexpr int kWriteIdleTimeoutMs = 60'000;
