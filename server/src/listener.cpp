#include "listener.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "stop_signal.h"

namespace {

// Beyond this many open connections new ones are turned away with 503,
// which keeps a runaway client from exhausting threads.
constexpr int kMaxConnections = 256;

// How long shutdown waits for connection threads to notice the stop.
constexpr auto kShutdownGrace = std::chrono::seconds(5);

class ActiveConnections {
 public:
  bool try_enter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ >= kMaxConnections) return false;
    ++count_;
    return true;
  }
  void leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    --count_;
    if (count_ == 0) drained_.notify_all();
  }
  bool wait_until_none(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return drained_.wait_for(lock, limit, [this] { return count_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable drained_;
  int count_ = 0;
};

int open_listening_socket(const ListenerSettings& settings, uint16_t& bound_port, std::string& error) {
  in_addr address{};
  if (inet_pton(AF_INET, settings.bind_address.c_str(), &address) != 1) {
    error = "not an IPv4 address: " + settings.bind_address;
    return -1;
  }
  // Development server: it must never be reachable from other machines.
  if ((ntohl(address.s_addr) >> 24) != 127) {
    error = "refusing to bind a non-loopback address: " + settings.bind_address;
    return -1;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr = address;
  local.sin_port = htons(settings.port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(fd, 128) != 0) {
    error = "bind/listen on " + settings.bind_address + ":" + std::to_string(settings.port) + ": " +
            std::strerror(errno);
    close(fd);
    return -1;
  }
  socklen_t length = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  bound_port = ntohs(local.sin_port);
  return fd;
}

std::string peer_address(const sockaddr_in& peer) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  return text;
}

void refuse_busy(int fd) {
  static const char kBusy[] =
      "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 5\r\n\r\nbusy\n";
  [[maybe_unused]] ssize_t ignored = send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  close(fd);
}

}  // namespace

bool run_listener(const ListenerSettings& settings, const ConnectionHandler& handler, std::string& error) {
  uint16_t bound_port = 0;
  const int listen_fd = open_listening_socket(settings, bound_port, error);
  if (listen_fd < 0) return false;
  std::printf("listening on %s:%u\n", settings.bind_address.c_str(), static_cast<unsigned>(bound_port));
  std::fflush(stdout);

  ActiveConnections active;
  while (!stop_requested()) {
    pollfd fds[2] = {{listen_fd, POLLIN, 0}, {stop_wait_fd(), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      error = std::string("poll: ") + std::strerror(errno);
      break;
    }
    if (fds[1].revents != 0) break;
    if (fds[0].revents == 0) continue;
    sockaddr_in peer{};
    socklen_t peer_length = sizeof peer;
    const int client_fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &peer_length, SOCK_CLOEXEC);
    if (client_fd < 0) continue;  // aborted handshakes, descriptor limits: keep serving
    if (!active.try_enter()) {
      refuse_busy(client_fd);
      continue;
    }
    std::string remote = peer_address(peer);
    auto serve_one = [&active, &handler, client_fd, remote = std::move(remote)]() mutable {
      {
        Connection connection(client_fd, std::move(remote));
        handler(connection);
        connection.close_gracefully();
      }
      active.leave();
    };
    try {
      std::thread(std::move(serve_one)).detach();
    } catch (const std::system_error&) {  // out of threads: drop this client only
      active.leave();
      refuse_busy(client_fd);
    }
  }
  close(listen_fd);
  if (!active.wait_until_none(kShutdownGrace)) {
    std::fprintf(stderr, "orlix_server: connections still open at shutdown\n");
    std::fflush(stderr);
    // Detached threads still use objects owned by the caller: leave now
    // rather than destroy them underneath.
    _exit(0);
  }
  return error.empty();
}
