// Process-wide stop request, raised by SIGTERM/SIGINT or by the program.
// It is a self-pipe: once raised its read end stays readable, so every
// thread can include it in poll() and wake up at once.
#pragma once

// Creates the pipe and installs the SIGTERM/SIGINT handlers; also makes
// SIGPIPE harmless. Returns false if the pipe cannot be made.
bool install_stop_signal();

// Raises the stop request (async-signal-safe).
void request_stop();

// True once the stop request was raised.
bool stop_requested();

// Descriptor that becomes readable when the stop request is raised.
int stop_wait_fd();
