#include "stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

int g_pipe_read = -1;
int g_pipe_write = -1;
std::atomic<bool> g_stop_requested{false};

void on_stop_signal(int) { request_stop(); }

}  // namespace

bool install_stop_signal() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  g_pipe_read = fds[0];
  g_pipe_write = fds[1];

  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  // A peer that hangs up mid-response must give EPIPE, not kill the server.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  return true;
}

void request_stop() {
  g_stop_requested.store(true);
  if (g_pipe_write >= 0) {
    const char byte = 1;
    // The pipe is never drained, so one byte keeps it readable for good.
    [[maybe_unused]] ssize_t ignored = write(g_pipe_write, &byte, 1);
  }
}

bool stop_requested() { return g_stop_requested.load(); }

int stop_wait_fd() { return g_pipe_read; }
