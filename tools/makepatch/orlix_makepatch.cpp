// The maker's patch tool: a launcher patch from one release to the next, in
// the format update/PatchApply.h describes (bsdiff 4.0's layout and
// algorithm, its blocks deflated twice by zlib), and the same applier the
// launcher runs, for checking a patch before it is published.
//
//   orlix_makepatch diff OLD NEW PATCH   writes PATCH, which makes NEW of OLD
//   orlix_makepatch apply OLD PATCH NEW  writes NEW as the launcher would
//
// The difference is bsdiff's: a suffix array of the old file
// (libdivsufsort) finds, for each stretch of the new file, the longest
// match in the old one; matches are extended forwards and backwards as long
// as at least half of the bytes agree, so that code whose addresses shifted
// becomes a block of mostly zero differences, which compresses well. What
// matches nothing goes to the extra block as it is.
#include <divsufsort.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "update/PatchApply.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadFile(const char* path, Bytes* out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  Bytes data;
  unsigned char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (ok) out->swap(data);
  return ok;
}

bool WriteFile(const char* path, const Bytes& data) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

void PutNumber(int64_t value, unsigned char* out) {
  uint64_t magnitude = value < 0 ? uint64_t(-value) : uint64_t(value);
  for (int i = 0; i < 8; ++i, magnitude >>= 8) out[i] = static_cast<unsigned char>(magnitude & 0xFF);
  if (value < 0) out[7] |= 0x80;
}

int64_t GetNumber(const unsigned char* in) {
  uint64_t magnitude = 0;
  for (int i = 7; i >= 0; --i) magnitude = (magnitude << 8) | in[i];
  const bool negative = (magnitude >> 63) != 0;
  magnitude &= ~(1ull << 63);
  return negative ? -int64_t(magnitude) : int64_t(magnitude);
}

int64_t MatchLength(const unsigned char* a, int64_t aSize, const unsigned char* b, int64_t bSize) {
  int64_t i = 0;
  const int64_t limit = std::min(aSize, bSize);
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// The longest match of |target| in |old| among the suffixes sa[lo..hi].
int64_t Search(const std::vector<saidx_t>& sa, const Bytes& old, const unsigned char* target, int64_t targetSize,
               int64_t lo, int64_t hi, int64_t* pos) {
  const int64_t n = int64_t(old.size());
  while (hi - lo >= 2) {
    const int64_t mid = lo + (hi - lo) / 2;
    const int64_t at = sa[mid];
    if (std::memcmp(old.data() + at, target, size_t(std::min(n - at, targetSize))) < 0) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  const int64_t x = MatchLength(old.data() + sa[lo], n - sa[lo], target, targetSize);
  const int64_t y = MatchLength(old.data() + sa[hi], n - sa[hi], target, targetSize);
  if (x > y) {
    *pos = sa[lo];
    return x;
  }
  *pos = sa[hi];
  return y;
}

bool Deflate(const Bytes& data, Bytes* out) {
  uLongf size = compressBound(uLong(data.size()));
  Bytes packed(size);
  if (compress2(packed.data(), &size, data.data(), uLong(data.size()), Z_BEST_COMPRESSION) != Z_OK) return false;
  packed.resize(size);
  out->swap(packed);
  return true;
}

// A block as the format stores it: deflated twice (update/PatchApply.h).
bool Compress(const Bytes& data, Bytes* out) {
  Bytes once;
  return Deflate(data, &once) && Deflate(once, out);
}

bool MakePatch(const Bytes& old, const Bytes& target, Bytes* patch) {
  const int64_t n = int64_t(old.size());
  const int64_t m = int64_t(target.size());
  std::vector<saidx_t> sa(std::max<int64_t>(n, 1));
  if (n > 0 && divsufsort(old.data(), sa.data(), saidx_t(n)) != 0) return false;

  Bytes control, diff, extra;
  diff.reserve(size_t(m));
  int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
  while (scan < m) {
    int64_t oldScore = 0;
    int64_t scsc = scan += len;
    for (; scan < m; ++scan) {
      len = n > 0 ? Search(sa, old, target.data() + scan, m - scan, 0, n - 1, &pos) : 0;
      for (; scsc < scan + len; ++scsc) {
        if (scsc + lastOffset < n && scsc + lastOffset >= 0 && old[size_t(scsc + lastOffset)] == target[size_t(scsc)]) {
          ++oldScore;
        }
      }
      // A match clearly better than going on with the previous alignment.
      if ((len == oldScore && len != 0) || len > oldScore + 8) break;
      if (scan + lastOffset < n && scan + lastOffset >= 0 && old[size_t(scan + lastOffset)] == target[size_t(scan)]) {
        --oldScore;
      }
    }
    if (len == oldScore && scan != m) continue;

    // Forwards from the last match, as long as half of the bytes agree.
    int64_t s = 0, best = 0, lenF = 0;
    for (int64_t i = 0; lastScan + i < scan && lastPos + i < n;) {
      if (old[size_t(lastPos + i)] == target[size_t(lastScan + i)]) ++s;
      ++i;
      if (s * 2 - i > best * 2 - lenF) {
        best = s;
        lenF = i;
      }
    }
    // Backwards from the new match.
    int64_t lenB = 0;
    if (scan < m) {
      s = 0;
      best = 0;
      for (int64_t i = 1; scan >= lastScan + i && pos >= i; ++i) {
        if (old[size_t(pos - i)] == target[size_t(scan - i)]) ++s;
        if (s * 2 - i > best * 2 - lenB) {
          best = s;
          lenB = i;
        }
      }
    }
    // Where the two overlap, the split that keeps the most agreeing bytes.
    if (lastScan + lenF > scan - lenB) {
      const int64_t overlap = (lastScan + lenF) - (scan - lenB);
      s = 0;
      best = 0;
      int64_t lenS = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (target[size_t(lastScan + lenF - overlap + i)] == old[size_t(lastPos + lenF - overlap + i)]) ++s;
        if (target[size_t(scan - lenB + i)] == old[size_t(pos - lenB + i)]) --s;
        if (s > best) {
          best = s;
          lenS = i + 1;
        }
      }
      lenF += lenS - overlap;
      lenB -= lenS;
    }

    for (int64_t i = 0; i < lenF; ++i) {
      diff.push_back(static_cast<unsigned char>(target[size_t(lastScan + i)] - old[size_t(lastPos + i)]));
    }
    const int64_t copy = (scan - lenB) - (lastScan + lenF);
    extra.insert(extra.end(), target.begin() + (lastScan + lenF), target.begin() + (scan - lenB));
    unsigned char triple[24];
    PutNumber(lenF, triple);
    PutNumber(copy, triple + 8);
    PutNumber((pos - lenB) - (lastPos + lenF), triple + 16);
    // The applier takes no triple that makes no bytes: a seek alone joins
    // the previous triple's seek, and before the first triple the old
    // position stays at 0, where the applier starts.
    if (lenF + copy > 0) {
      control.insert(control.end(), triple, triple + 24);
      lastPos = pos - lenB;
    } else if (!control.empty()) {
      unsigned char* lastSeek = control.data() + control.size() - 8;
      PutNumber(GetNumber(lastSeek) + (pos - lenB) - (lastPos + lenF), lastSeek);
      lastPos = pos - lenB;
    }
    lastScan = scan - lenB;
    lastOffset = pos - scan;
  }

  Bytes packedControl, packedDiff, packedExtra;
  if (!Compress(control, &packedControl) || !Compress(diff, &packedDiff) || !Compress(extra, &packedExtra)) {
    return false;
  }
  Bytes out(update::kPatchHeaderBytes);
  std::memcpy(out.data(), update::kPatchMagic, sizeof(update::kPatchMagic));
  PutNumber(int64_t(packedControl.size()), out.data() + 8);
  PutNumber(int64_t(packedDiff.size()), out.data() + 16);
  PutNumber(m, out.data() + 24);
  out.insert(out.end(), packedControl.begin(), packedControl.end());
  out.insert(out.end(), packedDiff.begin(), packedDiff.end());
  out.insert(out.end(), packedExtra.begin(), packedExtra.end());
  patch->swap(out);
  return true;
}

class FileSource : public update::PatchSource {
 public:
  explicit FileSource(const char* path) : file_(std::fopen(path, "rb")) {
    if (file_ && std::fseek(file_, 0, SEEK_END) == 0) size_ = uint64_t(std::ftell(file_));
  }
  ~FileSource() {
    if (file_) std::fclose(file_);
  }
  bool ok() const { return file_ != nullptr; }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* data, size_t count) override {
    return std::fseek(file_, long(offset), SEEK_SET) == 0 && std::fread(data, 1, count, file_) == count;
  }

 private:
  FILE* file_;
  uint64_t size_ = 0;
};

class FileSink : public update::PatchSink {
 public:
  explicit FileSink(const char* path) : file_(std::fopen(path, "wb")) {}
  bool ok() const { return file_ != nullptr; }
  bool Write(const void* data, size_t count) override { return std::fwrite(data, 1, count, file_) == count; }
  bool Close() {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }
  ~FileSink() {
    if (file_) std::fclose(file_);
  }

 private:
  FILE* file_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "diff") {
    Bytes old, target, patch;
    if (!ReadFile(argv[2], &old) || !ReadFile(argv[3], &target)) {
      std::fprintf(stderr, "orlix_makepatch: cannot read %s or %s\n", argv[2], argv[3]);
      return 1;
    }
    if (!MakePatch(old, target, &patch) || !WriteFile(argv[4], patch)) {
      std::fprintf(stderr, "orlix_makepatch: cannot make %s\n", argv[4]);
      return 1;
    }
    return 0;
  }
  if (argc == 5 && std::string(argv[1]) == "apply") {
    FileSource old(argv[2]);
    FileSource patch(argv[3]);
    FileSink out(argv[4]);
    if (!old.ok() || !patch.ok() || !out.ok()) {
      std::fprintf(stderr, "orlix_makepatch: cannot open the files\n");
      return 1;
    }
    const update::PatchFault fault = update::ApplyPatch(old, patch, out, 0);
    if (!out.Close() || fault != update::PatchFault::kNone) {
      std::fprintf(stderr, "orlix_makepatch: %ls\n", update::DescribePatchFault(fault));
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "usage: orlix_makepatch diff OLD NEW PATCH | apply OLD PATCH NEW\n");
  return 2;
}
