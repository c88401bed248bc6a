// Faults that tests arm per request path to see how clients cope with a
// misbehaving server. Thread-safe.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

enum class FaultMode {
  None,
  NotFound,      // "404": 404 with a short body
  ServerError,   // "500": 500 with the body "server error"
  Chunked,       // body sent with chunked framing, no Content-Length
  Cut,           // full Content-Length declared, half the body, then close
  Extra,         // real Content-Length, body followed by 4096 more bytes
  Stall,         // head and the first 512 bytes, then silence
  StallConnect,  // nothing at all, connection kept open
  Slow,          // body in 512-byte pieces, 20 ms apart
  Trickle,       // real Content-Length, body one byte every 2 s
  Redirect,      // 302 to the fault's location, which may be the path itself
  NoRanges,      // a file served whole whatever Range asks, without Accept-Ranges
  RangeShift,    // a range answered from one byte before the asked start
};

// An armed fault: its mode, for Redirect the Location to send, and for the
// stall modes how long the connection is held.
struct Fault {
  FaultMode mode = FaultMode::None;
  std::string location;
  int hold_ms = 120'000;
  // Cut: the file offset at which the body stops (half the body when unset).
  std::optional<uint64_t> cut_at;
};

std::optional<FaultMode> parse_fault_mode(std::string_view name);

class FaultTable {
 public:
  void arm(const std::string& path, Fault fault);
  void clear();
  // Fault armed for exactly this decoded path, or one with mode None.
  Fault lookup(const std::string& path) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Fault> by_path_;
};
