#include "connection.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "stop_signal.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

int remaining_ms(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

Connection::Connection(int socket_fd, std::string remote_address)
    : fd_(socket_fd), remote_address_(std::move(remote_address)) {
  const int flags = fcntl(fd_, F_GETFL, 0);
  if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

Connection::~Connection() {
  if (fd_ >= 0) close(fd_);
}

IoResult Connection::wait_for(short events, int timeout_ms) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pollfd fds[2] = {{fd_, events, 0}, {stop_wait_fd(), POLLIN, 0}};
    const int ready = poll(fds, 2, remaining_ms(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return IoResult::Failed;
    }
    if (fds[1].revents != 0) return IoResult::Stopping;
    if (ready == 0) return IoResult::TimedOut;
    // Errors and hang-ups are reported by the following read or write.
    return IoResult::Ok;
  }
}

IoResult Connection::read_some(std::string& buffer, size_t max_bytes, int timeout_ms) {
  const IoResult waited = wait_for(POLLIN, timeout_ms);
  if (waited != IoResult::Ok) return waited;
  const size_t old_size = buffer.size();
  buffer.resize(old_size + max_bytes);
  for (;;) {
    const ssize_t got = recv(fd_, buffer.data() + old_size, max_bytes, 0);
    if (got > 0) {
      buffer.resize(old_size + static_cast<size_t>(got));
      return IoResult::Ok;
    }
    buffer.resize(old_size);
    if (got == 0) return IoResult::PeerClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::Ok;  // spurious wake-up
    return IoResult::Failed;
  }
}

IoResult Connection::write_all(std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const IoResult waited = wait_for(POLLOUT, kWriteIdleTimeoutMs);
      if (waited != IoResult::Ok) return waited;
      continue;
    }
    return IoResult::Failed;
  }
  return IoResult::Ok;
}

IoResult Connection::send_file_range(int file_fd, off_t offset, uint64_t count) {
  // Large chunks keep the number of system calls low for big downloads.
  constexpr uint64_t kMaxChunk = 4 * 1024 * 1024;
  while (count > 0) {
    const size_t chunk = static_cast<size_t>(std::min(count, kMaxChunk));
    const ssize_t sent = sendfile(fd_, file_fd, &offset, chunk);
    if (sent > 0) {
      count -= static_cast<uint64_t>(sent);
      continue;
    }
    if (sent == 0) return IoResult::Failed;  // the file shrank under us
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const IoResult waited = wait_for(POLLOUT, kWriteIdleTimeoutMs);
      if (waited != IoResult::Ok) return waited;
      continue;
    }
    return IoResult::Failed;
  }
  return IoResult::Ok;
}

IoResult Connection::pause(int milliseconds) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    pollfd stop = {stop_wait_fd(), POLLIN, 0};
    const int ready = poll(&stop, 1, remaining_ms(deadline));
    if (ready > 0) return IoResult::Stopping;
    if (ready == 0) return IoResult::Ok;
    if (errno != EINTR) return IoResult::Failed;
  }
}

IoResult Connection::hold_open(int max_ms) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(max_ms);
  for (;;) {
    const IoResult waited = wait_for(POLLIN, remaining_ms(deadline));
    if (waited != IoResult::Ok) return waited;
    char discard[4096];
    const ssize_t got = recv(fd_, discard, sizeof discard, 0);
    if (got == 0) return IoResult::PeerClosed;
    if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return IoResult::Failed;
  }
}

void Connection::close_gracefully() {
  if (fd_ < 0) return;
  shutdown(fd_, SHUT_WR);
  // Closing with unread input would send a reset that can destroy the tail
  // of our response in the peer's buffers; read a little until its FIN.
  constexpr int kDrainTimeMs = 1000;
  constexpr size_t kDrainLimit = 256 * 1024;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kDrainTimeMs);
  size_t drained = 0;
  while (drained < kDrainLimit) {
    if (wait_for(POLLIN, remaining_ms(deadline)) != IoResult::Ok) break;
    char discard[4096];
    const ssize_t got = recv(fd_, discard, sizeof discard, 0);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      break;
    }
    drained += static_cast<size_t>(got);
  }
  close(fd_);
  fd_ = -1;
}
