#include "update/PatchApply.h"

#include <zlib.h>

#include <cstring>
#include <memory>

namespace update {

namespace {

constexpr std::size_t kPieceBytes = 64 * 1024;

// bsdiff's number: little-endian magnitude, sign in the top bit. False for
// "negative zero" and magnitudes that do not fit 63 bits (never written).
bool ReadNumber(const unsigned char* bytes, std::int64_t* value) {
  std::uint64_t magnitude = 0;
  for (int i = 7; i >= 0; --i) magnitude = (magnitude << 8) | bytes[i];
  const bool negative = (magnitude >> 63) != 0;
  magnitude &= ~(1ull << 63);
  if (negative && magnitude == 0) return false;
  *value = negative ? -std::int64_t(magnitude) : std::int64_t(magnitude);
  return true;
}

// One zlib stream fed by |Fill|, inflated on demand.
class Inflater {
 public:
  Inflater() = default;
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool Start() {
    std::memset(&stream_, 0, sizeof(stream_));
    ready_ = inflateInit(&stream_) == Z_OK;
    return ready_;
  }
  bool finished() const { return finished_; }
  bool HasInput() const { return stream_.avail_in != 0; }
  void Feed(const unsigned char* data, std::size_t count) {
    stream_.next_in = const_cast<unsigned char*>(data);
    stream_.avail_in = static_cast<uInt>(count);
  }
  // Inflates into |out| (up to |room| bytes) from the input it has; the
  // bytes made in |made|. False for a damaged stream.
  bool Step(unsigned char* out, std::size_t room, std::size_t* made) {
    stream_.next_out = out;
    stream_.avail_out = static_cast<uInt>(room);
    const int status = inflate(&stream_, Z_NO_FLUSH);
    *made = room - stream_.avail_out;
    if (status == Z_STREAM_END) {
      finished_ = true;
      return true;
    }
    // No progress without new input is Z_BUF_ERROR: the caller feeds more.
    return status == Z_OK || (status == Z_BUF_ERROR && stream_.avail_in == 0);
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
  bool finished_ = false;
};

// One block of the patch: its bytes [begin, end) are a zlib stream whose
// content is again a zlib stream, of the block's data. (Deflate codes at
// most 258 bytes per match, so the long runs of zero differences of a
// patch cost two bits per 258 bytes; the second pass takes them down to
// almost nothing, as bzip2's run-length stage does for bsdiff.)
class BlockReader {
 public:
  BlockReader(PatchSource& patch, std::uint64_t begin, std::uint64_t end)
      : patch_(patch), next_(begin), end_(end) {}

  bool Start() { return outer_.Start() && inner_.Start(); }

  // Exactly |count| bytes of the block; kBadBlock when it ends before them
  // or is damaged, kUnreadable when the patch cannot be read.
  PatchFault Read(unsigned char* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      if (inner_.finished()) return PatchFault::kBadBlock;
      if (!inner_.HasInput()) {
        const PatchFault fed = FeedInner();
        if (fed != PatchFault::kNone) return fed;
      }
      std::size_t made = 0;
      if (!inner_.Step(out + done, count - done, &made)) return PatchFault::kBadBlock;
      done += made;
    }
    return PatchFault::kNone;
  }

  // True when the block has been read to its end exactly: both streams end,
  // and no byte of either is left over.
  bool AtEnd() {
    unsigned char probe = 0;
    while (!inner_.finished()) {
      if (!inner_.HasInput() && FeedInner() != PatchFault::kNone) return false;
      std::size_t made = 0;
      if (!inner_.Step(&probe, 1, &made) || made != 0) return false;  // damaged, or data the triples did not use
    }
    if (inner_.HasInput()) return false;
    while (!outer_.finished()) {
      if (!outer_.HasInput() && Refill() != PatchFault::kNone) return false;
      std::size_t made = 0;
      if (!outer_.Step(&probe, 1, &made) || made != 0) return false;
    }
    return !outer_.HasInput() && next_ == end_;
  }

 private:
  // The next piece of the inner stream, inflated from the outer one.
  PatchFault FeedInner() {
    for (;;) {
      if (outer_.finished()) return PatchFault::kBadBlock;
      if (!outer_.HasInput()) {
        const PatchFault refill = Refill();
        if (refill != PatchFault::kNone) return refill;
      }
      std::size_t made = 0;
      if (!outer_.Step(middle_.get(), kPieceBytes, &made)) return PatchFault::kBadBlock;
      if (made > 0) {
        inner_.Feed(middle_.get(), made);
        return PatchFault::kNone;
      }
    }
  }

  PatchFault Refill() {
    if (next_ >= end_) return PatchFault::kBadBlock;
    const std::size_t take = end_ - next_ < kPieceBytes ? std::size_t(end_ - next_) : kPieceBytes;
    if (!patch_.ReadAt(next_, input_.get(), take)) return PatchFault::kUnreadable;
    next_ += take;
    outer_.Feed(input_.get(), take);
    return PatchFault::kNone;
  }

  PatchSource& patch_;
  std::uint64_t next_;
  std::uint64_t end_;
  std::unique_ptr<unsigned char[]> input_{new unsigned char[kPieceBytes]};
  std::unique_ptr<unsigned char[]> middle_{new unsigned char[kPieceBytes]};
  Inflater outer_;
  Inflater inner_;
};

}  // namespace

const wchar_t* DescribePatchFault(PatchFault fault) {
  switch (fault) {
    case PatchFault::kNone: return L"applied";
    case PatchFault::kUnreadable: return L"the patch or the running launcher could not be read";
    case PatchFault::kNotAPatch: return L"the file is not a launcher patch";
    case PatchFault::kSizeRefused: return L"the patch makes a file of another size";
    case PatchFault::kBadBlock: return L"a block of the patch is damaged";
    case PatchFault::kBadControl: return L"the patch points outside the old or the new file";
    case PatchFault::kNotWritable: return L"the patched file could not be written";
  }
  return L"unknown";
}

PatchFault ApplyPatch(PatchSource& old, PatchSource& patch, PatchSink& out, std::uint64_t expectedSize) {
  const std::uint64_t patchSize = patch.Size();
  const std::uint64_t oldSize = old.Size();
  unsigned char header[kPatchHeaderBytes];
  if (patchSize < kPatchHeaderBytes) return PatchFault::kNotAPatch;
  if (!patch.ReadAt(0, header, sizeof(header))) return PatchFault::kUnreadable;
  std::int64_t controlLength = 0, diffLength = 0, newSize = 0;
  if (std::memcmp(header, kPatchMagic, sizeof(kPatchMagic)) != 0 || !ReadNumber(header + 8, &controlLength) ||
      !ReadNumber(header + 16, &diffLength) || !ReadNumber(header + 24, &newSize) || controlLength < 0 ||
      diffLength < 0) {
    return PatchFault::kNotAPatch;
  }
  if (newSize < 0 || (expectedSize != 0 && std::uint64_t(newSize) != expectedSize) ||
      std::uint64_t(newSize) > kMaxPatchedFileBytes) {
    return PatchFault::kSizeRefused;
  }
  const std::uint64_t blocks = patchSize - kPatchHeaderBytes;
  if (std::uint64_t(controlLength) > blocks || std::uint64_t(diffLength) > blocks - std::uint64_t(controlLength)) {
    return PatchFault::kNotAPatch;
  }
  const std::uint64_t diffBegin = kPatchHeaderBytes + std::uint64_t(controlLength);
  const std::uint64_t extraBegin = diffBegin + std::uint64_t(diffLength);
  BlockReader control(patch, kPatchHeaderBytes, diffBegin);
  BlockReader diff(patch, diffBegin, extraBegin);
  BlockReader extra(patch, extraBegin, patchSize);
  if (!control.Start() || !diff.Start() || !extra.Start()) return PatchFault::kUnreadable;

  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPieceBytes]);
  std::unique_ptr<unsigned char[]> oldPiece(new unsigned char[kPieceBytes]);
  const std::int64_t total = newSize;
  const std::int64_t oldTotal = std::int64_t(oldSize);
  std::int64_t newPos = 0;
  std::int64_t oldPos = 0;
  while (newPos < total) {
    unsigned char triple[24];
    const PatchFault read = control.Read(triple, sizeof(triple));
    if (read != PatchFault::kNone) return read == PatchFault::kBadBlock ? PatchFault::kBadControl : read;
    std::int64_t add = 0, copy = 0, seek = 0;
    if (!ReadNumber(triple, &add) || !ReadNumber(triple + 8, &copy) || !ReadNumber(triple + 16, &seek)) {
      return PatchFault::kBadControl;
    }
    // Each length within what is left of the new file; the added bytes
    // within the old file; the old position, after the seek, within it too.
    if (add < 0 || copy < 0 || add > total - newPos || copy > total - newPos - add || add + copy == 0) {
      return PatchFault::kBadControl;
    }
    if (add > oldTotal - oldPos) return PatchFault::kBadControl;
    const std::int64_t moved = oldPos + add;
    if (seek > oldTotal - moved || seek < -moved) return PatchFault::kBadControl;

    for (std::int64_t done = 0; done < add;) {
      const std::size_t n = std::size_t(add - done < std::int64_t(kPieceBytes) ? add - done : kPieceBytes);
      const PatchFault got = diff.Read(piece.get(), n);
      if (got != PatchFault::kNone) return got;
      if (!old.ReadAt(std::uint64_t(oldPos + done), oldPiece.get(), n)) return PatchFault::kUnreadable;
      for (std::size_t i = 0; i < n; ++i) piece[i] = static_cast<unsigned char>(piece[i] + oldPiece[i]);
      if (!out.Write(piece.get(), n)) return PatchFault::kNotWritable;
      done += std::int64_t(n);
    }
    for (std::int64_t done = 0; done < copy;) {
      const std::size_t n = std::size_t(copy - done < std::int64_t(kPieceBytes) ? copy - done : kPieceBytes);
      const PatchFault got = extra.Read(piece.get(), n);
      if (got != PatchFault::kNone) return got;
      if (!out.Write(piece.get(), n)) return PatchFault::kNotWritable;
      done += std::int64_t(n);
    }
    newPos += add + copy;
    oldPos = moved + seek;
  }
  // Nothing may be left over: a patch is read exactly as it was written.
  if (!control.AtEnd() || !diff.AtEnd() || !extra.AtEnd()) return PatchFault::kBadBlock;
  return PatchFault::kNone;
}

}  // namespace update
