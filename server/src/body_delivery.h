// Sending a response body, normally or in one of the faulty ways tests
// arm (chunked framing, cut short, extra bytes, stalls, slow pieces, a
// trickle of single bytes).
#pragma once
#include <cstdint>
#include <string>

#include "connection.h"
#include "fault_table.h"
#include "http_response.h"

// A body is either `file_size` bytes of an open file from `file_offset` on
// or a text.
struct ResponseBody {
  int file_fd = -1;
  uint64_t file_offset = 0;
  uint64_t file_size = 0;
  std::string text;

  static ResponseBody from_text(std::string text);
  static ResponseBody from_file(int fd, uint64_t size, uint64_t offset = 0);
  uint64_t size() const { return file_fd >= 0 ? file_size : text.size(); }
};

// Filler appended by the "extra" mode beyond the declared length.
constexpr uint64_t kExtraBytes = 4096;
// Piece size and pause of the "slow" mode.
constexpr uint64_t kSlowPieceBytes = 512;
constexpr int kSlowPauseMs = 20;
// Pause between the single bytes of the "trickle" mode.
constexpr int kTrickleIntervalMs = 2'000;

// Sends `head` (its length/framing fields are set here) and `body` as
// `mode` says. The modes 404, 500 and redirect are answered before a body
// is chosen and are treated like None here. With `head_only` (HEAD requests) only
// the plain head is sent, whatever the mode. The stall modes keep the
// connection open and silent for `hold_ms`. The cut mode stops at the file
// offset `cut_at` when given (nothing of a body that starts beyond it).
IoResult deliver_response(Connection& connection, ResponseHead head, const ResponseBody& body, FaultMode mode,
                          bool head_only, int hold_ms = Fault{}.hold_ms,
                          std::optional<uint64_t> cut_at = std::nullopt);
