#include "update/PatchApply.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace update {
namespace {

using Bytes = std::vector<unsigned char>;

class MemorySource : public PatchSource {
 public:
  explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, void* data, std::size_t count) override {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    std::memcpy(data, bytes_.data() + offset, count);
    return true;
  }

 private:
  Bytes bytes_;
};

class MemorySink : public PatchSink {
 public:
  bool Write(const void* data, std::size_t count) override {
    const auto* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + count);
    return bytes.size() <= limit;
  }
  Bytes bytes;
  std::size_t limit = 1u << 30;
};

void PutNumber(std::int64_t value, Bytes* out) {
  std::uint64_t magnitude = value < 0 ? std::uint64_t(-value) : std::uint64_t(value);
  for (int i = 0; i < 8; ++i, magnitude >>= 8) out->push_back(static_cast<unsigned char>(magnitude & 0xFF));
  if (value < 0) out->back() |= 0x80;
}

Bytes DeflateOnce(const Bytes& data) {
  uLongf size = compressBound(uLong(data.size()));
  Bytes packed(size);
  compress2(packed.data(), &size, data.data(), uLong(data.size()), 9);
  packed.resize(size);
  return packed;
}

// A block as the format stores it: deflated twice.
Bytes Deflate(const Bytes& data) { return DeflateOnce(DeflateOnce(data)); }

struct Triple {
  std::int64_t add, copy, seek;
};

// A patch of |triples| with the difference and extra blocks as given
// (deflated once only with |once|: a format the applier does not take).
Bytes MakePatch(const std::vector<Triple>& triples, const Bytes& diff, const Bytes& extra, std::int64_t newSize,
                bool once = false) {
  Bytes control;
  for (const Triple& t : triples) {
    PutNumber(t.add, &control);
    PutNumber(t.copy, &control);
    PutNumber(t.seek, &control);
  }
  auto pack = [once](const Bytes& data) { return once ? DeflateOnce(data) : Deflate(data); };
  const Bytes c = pack(control), d = pack(diff), e = pack(extra);
  Bytes patch(kPatchMagic, kPatchMagic + 8);
  PutNumber(std::int64_t(c.size()), &patch);
  PutNumber(std::int64_t(d.size()), &patch);
  PutNumber(newSize, &patch);
  patch.insert(patch.end(), c.begin(), c.end());
  patch.insert(patch.end(), d.begin(), d.end());
  patch.insert(patch.end(), e.begin(), e.end());
  return patch;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// old "abcdefghij"; new "abXdeNEWhij": add 5 from 0 (one byte changed),
// copy "NEW", skip 2 old bytes, add 3.
const Bytes kOld = Text("abcdefghij");
const Bytes kNew = Text("abXdeNEWhij");
const std::vector<Triple> kTriples = {{5, 3, 2}, {3, 0, 0}};
Bytes GoodDiff() {
  Bytes diff(8, 0);
  diff[2] = static_cast<unsigned char>('X' - 'c');
  return diff;
}

PatchFault Apply(const Bytes& patch, std::uint64_t expected, Bytes* made = nullptr) {
  MemorySource old(kOld), source(patch);
  MemorySink sink;
  const PatchFault fault = ApplyPatch(old, source, sink, expected);
  if (made) *made = sink.bytes;
  return fault;
}

TEST(ApplyPatch, MakesTheNewFile) {
  Bytes made;
  ASSERT_EQ(PatchFault::kNone, Apply(MakePatch(kTriples, GoodDiff(), Text("NEW"), 11), 0, &made));
  EXPECT_EQ(kNew, made);
  EXPECT_EQ(PatchFault::kNone, Apply(MakePatch(kTriples, GoodDiff(), Text("NEW"), 11), 11));
}

TEST(ApplyPatch, RefusesWhatDoesNotFit) {
  const Bytes good = MakePatch(kTriples, GoodDiff(), Text("NEW"), 11);
  Bytes otherMagic = good;
  otherMagic[7] = '0';
  Bytes cutShort(good.begin(), good.end() - 3);
  Bytes trailing = good;
  trailing.push_back(0);
  Bytes damaged = good;
  damaged[good.size() - 6] ^= 0xFF;  // inside the extra block's stream
  Bytes hugeBlock = good;
  hugeBlock[8 + 6] = 0x7F;  // a control block longer than the patch
  struct Case {
    const char* what;
    Bytes patch;
    std::uint64_t expected;
    PatchFault fault;
  } cases[] = {
      {"empty", Bytes(), 0, PatchFault::kNotAPatch},
      {"bzip2 bsdiff magic", otherMagic, 0, PatchFault::kNotAPatch},
      {"blocks deflated once", MakePatch(kTriples, GoodDiff(), Text("NEW"), 11, true), 0, PatchFault::kBadControl},
      {"block lengths past the end", hugeBlock, 0, PatchFault::kNotAPatch},
      {"another signed size", good, 12, PatchFault::kSizeRefused},
      {"above the bound", MakePatch(kTriples, GoodDiff(), Text("NEW"), std::int64_t(kMaxPatchedFileBytes) + 1), 0,
       PatchFault::kSizeRefused},
      {"cut short", cutShort, 0, PatchFault::kBadBlock},
      {"a byte after the last block", trailing, 0, PatchFault::kBadBlock},
      {"damaged stream", damaged, 0, PatchFault::kBadBlock},
      {"diff block shorter than its adds", MakePatch(kTriples, Bytes(7, 0), Text("NEW"), 11), 0,
       PatchFault::kBadBlock},
      {"extra block longer than its copies", MakePatch(kTriples, GoodDiff(), Text("NEWX"), 11), 0,
       PatchFault::kBadBlock},
      {"add beyond the old file", MakePatch({{5, 3, 2}, {4, 0, 0}}, Bytes(9, 0), Text("NEW"), 12), 0,
       PatchFault::kBadControl},
      {"seek before the old file", MakePatch({{5, 3, -6}, {3, 0, 0}}, GoodDiff(), Text("NEW"), 11), 0,
       PatchFault::kBadControl},
      {"seek past the old file", MakePatch({{5, 3, 6}, {3, 0, 0}}, GoodDiff(), Text("NEW"), 11), 0,
       PatchFault::kBadControl},
      {"lengths beyond the new size", MakePatch({{5, 3, 2}, {3, 0, 0}}, GoodDiff(), Text("NEW"), 10), 0,
       PatchFault::kBadControl},
      {"negative length", MakePatch({{5, -3, 2}, {3, 0, 0}}, GoodDiff(), Text("NEW"), 11), 0,
       PatchFault::kBadControl},
      {"empty triple (no progress)", MakePatch({{0, 0, 0}, {5, 3, 2}, {3, 0, 0}}, GoodDiff(), Text("NEW"), 11), 0,
       PatchFault::kBadControl},
      {"control block ends early", MakePatch({{5, 3, 2}}, Bytes(5, 0), Text("NEW"), 11), 0,
       PatchFault::kBadControl},
  };
  for (const auto& c : cases) {
    Bytes made;
    EXPECT_EQ(c.fault, Apply(c.patch, c.expected, &made)) << c.what;
    EXPECT_LE(made.size(), kNew.size() + 1) << c.what;
  }
}

TEST(ApplyPatch, LargeFilesStreamThrough) {
  // 3 MB: more than one piece of every block. The new file is one byte of
  // its own, then the old file from byte 1000 on with one byte changed,
  // then 70000 new bytes.
  Bytes old(3u << 20);
  for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<unsigned char>(i * 7 + (i >> 12));
  const std::int64_t kept = std::int64_t(old.size()) - 1000;
  Bytes expected(old.size() - 1000 + 1 + 70000, 'x');
  expected[0] = 'y';
  std::copy(old.begin() + 1000, old.end(), expected.begin() + 1);
  expected[6] ^= 1;
  Bytes diff(std::size_t(kept), 0);
  diff[5] = static_cast<unsigned char>(expected[6] - old[1005]);
  Bytes extra(70001, 'x');
  extra[0] = 'y';
  MemorySource source(old);
  MemorySource patch(MakePatch({{0, 1, 1000}, {kept, 70000, 0}}, diff, extra, std::int64_t(expected.size())));
  MemorySink sink;
  ASSERT_EQ(PatchFault::kNone, ApplyPatch(source, patch, sink, expected.size()));
  EXPECT_TRUE(expected == sink.bytes);
}

}  // namespace
}  // namespace update
