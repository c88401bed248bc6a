// Applying a launcher patch: bsdiff's format (version 4.0, the one of
// bsdiff/bspatch) with its three blocks compressed by zlib instead of bzip2,
// so that zlib stays the launcher's one library. Each block is deflated
// twice (a zlib stream of its zlib stream): deflate's matches are at most
// 258 bytes long, so the megabytes of zero differences of a patch would
// cost two bits per 258 bytes, 16 KB for the launcher; the second pass
// takes that to a few hundred bytes, as bzip2's run-length stage does.
//
//   0   8 bytes  "BSDIFFZ1"
//   8   8 bytes  compressed length of the control block
//   16  8 bytes  compressed length of the difference block
//   24  8 bytes  size of the new file
//   32           the control block, then the difference block, then the
//                extra block (to the end of the file), each deflated twice
//
// Numbers are bsdiff's: 64-bit, little-endian magnitude with the sign in the
// top bit. The control block is a list of triples (ADD, COPY, SEEK): the
// next ADD bytes of the new file are the old file's bytes at the old
// position plus the next ADD bytes of the difference block (modulo 256),
// then COPY bytes come from the extra block as they are, then the old
// position moves by SEEK.
//
// The patch is hostile: the sizes in its header are capped (by the signed
// size of the new launcher where there is one), every triple is checked
// against the new size and the old file before it is used, and each block
// must end exactly where the control block says. Memory stays bounded: the
// old file is read in pieces where the triples point, the blocks are
// inflated as they are used and the new file is written as it grows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

constexpr char kPatchMagic[8] = {'B', 'S', 'D', 'I', 'F', 'F', 'Z', '1'};
constexpr std::size_t kPatchHeaderBytes = 32;
// The largest new file a patch may make when no signed size names it.
constexpr std::uint64_t kMaxPatchedFileBytes = 256ull * 1024 * 1024;

// Random access to a file that is read (the old launcher, the patch).
class PatchSource {
 public:
  virtual std::uint64_t Size() const = 0;
  // Reads exactly |count| bytes at |offset|; false when it cannot.
  virtual bool ReadAt(std::uint64_t offset, void* data, std::size_t count) = 0;

 protected:
  ~PatchSource() = default;
};

// The new file, written front to back.
class PatchSink {
 public:
  virtual bool Write(const void* data, std::size_t count) = 0;

 protected:
  ~PatchSink() = default;
};

enum class PatchFault {
  kNone,
  kUnreadable,     // the patch or the old file could not be read
  kNotAPatch,      // no header of this format
  kSizeRefused,    // the new size is not the expected one, or above the bound
  kBadBlock,       // a block that is no zlib stream, or ends early or late
  kBadControl,     // a triple that leaves the new file or the old file
  kNotWritable,    // the new file could not be written
};

// A short English description for the update log.
const wchar_t* DescribePatchFault(PatchFault fault);

// Writes the new file that |patch| makes of |old| to |out|. |expectedSize|
// is the new file's size when it is known (signed), else 0: the header must
// name exactly that size, or at most kMaxPatchedFileBytes.
PatchFault ApplyPatch(PatchSource& old, PatchSource& patch, PatchSink& out, std::uint64_t expectedSize);

}  // namespace update
