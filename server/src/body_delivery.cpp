#include "body_delivery.h"

#include <algorithm>
#include <cstdio>

namespace {

IoResult send_range(Connection& connection, const ResponseBody& body, uint64_t offset, uint64_t count) {
  if (body.file_fd >= 0) {
    return connection.send_file_range(body.file_fd, static_cast<off_t>(body.file_offset + offset), count);
  }
  return connection.write_all(std::string_view(body.text).substr(offset, count));
}

IoResult send_chunked(Connection& connection, const ResponseBody& body) {
  constexpr uint64_t kChunkBytes = 64 * 1024;
  const uint64_t size = body.size();
  for (uint64_t offset = 0; offset < size; offset += kChunkBytes) {
    const uint64_t count = std::min(kChunkBytes, size - offset);
    char chunk_size[32];
    std::snprintf(chunk_size, sizeof chunk_size, "%llx\r\n", static_cast<unsigned long long>(count));
    IoResult result = connection.write_all(chunk_size);
    if (result == IoResult::Ok) result = send_range(connection, body, offset, count);
    if (result == IoResult::Ok) result = connection.write_all("\r\n");
    if (result != IoResult::Ok) return result;
  }
  return connection.write_all("0\r\n\r\n");
}

IoResult send_slowly(Connection& connection, const ResponseBody& body) {
  const uint64_t size = body.size();
  for (uint64_t offset = 0; offset < size; offset += kSlowPieceBytes) {
    if (offset > 0) {
      const IoResult paused = connection.pause(kSlowPauseMs);
      if (paused != IoResult::Ok) return paused;
    }
    const IoResult sent = send_range(connection, body, offset, std::min(kSlowPieceBytes, size - offset));
    if (sent != IoResult::Ok) return sent;
  }
  return IoResult::Ok;
}

// One byte, then a pause, for as long as the body lasts: each read of the
// client sees progress, but the whole takes size × 2 s.
IoResult send_trickle(Connection& connection, const ResponseBody& body) {
  const uint64_t size = body.size();
  for (uint64_t offset = 0; offset < size; ++offset) {
    if (offset > 0) {
      const IoResult paused = connection.pause(kTrickleIntervalMs);
      if (paused != IoResult::Ok) return paused;
    }
    const IoResult sent = send_range(connection, body, offset, 1);
    if (sent != IoResult::Ok) return sent;
  }
  return IoResult::Ok;
}

}  // namespace

ResponseBody ResponseBody::from_text(std::string text) {
  ResponseBody body;
  body.text = std::move(text);
  return body;
}

ResponseBody ResponseBody::from_file(int fd, uint64_t size, uint64_t offset) {
  ResponseBody body;
  body.file_fd = fd;
  body.file_offset = offset;
  body.file_size = size;
  return body;
}

IoResult deliver_response(Connection& connection, ResponseHead head, const ResponseBody& body, FaultMode mode,
                          bool head_only, int hold_ms, std::optional<uint64_t> cut_at) {
  const uint64_t size = body.size();
  if (head_only) mode = FaultMode::None;

  if (mode == FaultMode::StallConnect) return connection.hold_open(hold_ms);

  if (mode == FaultMode::Chunked) {
    head.chunked = true;
    head.content_length.reset();
  } else {
    head.content_length = size;
  }
  IoResult result = connection.write_all(head.to_text());
  if (result != IoResult::Ok || head_only) return result;

  switch (mode) {
    case FaultMode::Chunked:
      return send_chunked(connection, body);
    case FaultMode::Cut:
      if (cut_at) {
        const uint64_t start = body.file_fd >= 0 ? body.file_offset : 0;
        return send_range(connection, body, 0, *cut_at > start ? std::min(size, *cut_at - start) : 0);
      }
      return send_range(connection, body, 0, size / 2);
    case FaultMode::Extra:
      result = send_range(connection, body, 0, size);
      return result == IoResult::Ok ? connection.write_all(std::string(kExtraBytes, 'X')) : result;
    case FaultMode::Stall:
      result = send_range(connection, body, 0, std::min<uint64_t>(512, size));
      return result == IoResult::Ok ? connection.hold_open(hold_ms) : result;
    case FaultMode::Slow:
      return send_slowly(connection, body);
    case FaultMode::Trickle:
      return send_trickle(connection, body);
    default:
      return send_range(connection, body, 0, size);
  }
}
