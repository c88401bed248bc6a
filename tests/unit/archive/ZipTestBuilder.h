// Writes small ZIP archives byte by byte for the archive tests, with knobs
// for every field the reader looks at and for the faults it must catch.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/ZipFormat.h"

namespace ziptest {

constexpr std::uint16_t kMadeByDos = 0x0014;   // host 0, version 2.0
constexpr std::uint16_t kMadeByUnix = 0x031E;  // host 3, version 3.0

// A DOS time stamp: 2021-06-15 13:45:30.
constexpr std::uint32_t kDosStamp = (std::uint32_t((2021 - 1980) << 9 | 6 << 5 | 15) << 16) | (13 << 11 | 45 << 5 | 15);

struct Entry {
  std::string name;  // raw bytes, as stored
  std::string data;  // uncompressed content
  std::uint16_t method = archive::kMethodDeflated;
  std::uint16_t madeBy = kMadeByDos;
  std::uint32_t external = 0x20;  // DOS archive bit
  std::uint32_t dosDateTime = kDosStamp;
  std::uint16_t flags = 0;
  std::string localExtra;
  // Traditional encryption with an empty password; the last header byte
  // decrypts to the check byte unless |wrongCheck|.
  bool encrypt = false;
  bool wrongCheck = false;
  // Faults: values written instead of the true ones.
  bool badCrc = false;
  bool hasDeclaredSize = false;
  std::uint32_t declaredSize = 0;       // both headers' uncompressed size
  bool localMethodDiffers = false;      // local header names another method
  bool truncateData = false;            // the stored/compressed bytes lose their second half
  std::uint16_t localExtraLengthOverride = 0;  // nonzero: claimed local extra length
};

struct Options {
  std::string prefix;       // bytes in front of the archive
  std::string comment;
  std::uint16_t thisDisk = 0;
  std::uint16_t directoryDisk = 0;
  int entriesOnDiskDelta = 0;
};

inline void Put16(std::string& s, std::uint32_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char((v >> 8) & 0xFF));
}
inline void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

inline std::string RawDeflate(const std::string& data) {
  z_stream z = {};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A "UT" extra block with the given Unix times (flags say which follow).
inline std::string UtBlock(unsigned flags, std::int32_t write, std::int32_t access = 0, std::int32_t creation = 0) {
  std::string values;
  if (flags & 1) Put32(values, static_cast<std::uint32_t>(write));
  if (flags & 2) Put32(values, static_cast<std::uint32_t>(access));
  if (flags & 4) Put32(values, static_cast<std::uint32_t>(creation));
  std::string block;
  Put16(block, 0x5455);
  Put16(block, static_cast<std::uint32_t>(1 + values.size()));
  block.push_back(char(flags));
  return block + values;
}

inline std::string Build(const std::vector<Entry>& entries, const Options& options = Options()) {
  std::string body, directory;
  for (const Entry& e : entries) {
    std::uint32_t crc = Crc(e.data);
    std::string payload = e.method == archive::kMethodDeflated ? RawDeflate(e.data) : e.data;
    std::uint16_t flags = e.flags;
    if (e.encrypt) {
      flags |= archive::kFlagEncrypted;
      archive::CentralHeader h = {};
      h.flags = flags;
      h.crc32 = crc;
      h.dosDateTime = e.dosDateTime;
      unsigned char check = archive::EncryptionCheckByte(h);
      std::string plain = "0123456789A";
      plain.push_back(char(e.wrongCheck ? check ^ 0x5A : check));
      plain += payload;
      archive::TraditionalKeys keys(nullptr);
      std::string cipher;
      for (char c : plain) cipher.push_back(char(keys.Encrypt(static_cast<unsigned char>(c))));
      payload = cipher;
    }
    std::uint32_t compressedSize = static_cast<std::uint32_t>(payload.size());
    std::uint32_t size = e.hasDeclaredSize ? e.declaredSize : static_cast<std::uint32_t>(e.data.size());
    if (e.truncateData) payload.resize(payload.size() / 2);
    if (e.badCrc) crc ^= 0x01000001;
    std::uint32_t offset = static_cast<std::uint32_t>(body.size());

    std::string local;
    Put32(local, archive::kLocalHeaderSignature);
    Put16(local, 20);
    Put16(local, flags);
    Put16(local, e.localMethodDiffers ? (e.method == 0 ? 8 : 0) : e.method);
    Put32(local, e.dosDateTime);
    Put32(local, crc);
    Put32(local, compressedSize);
    Put32(local, size);
    Put16(local, static_cast<std::uint32_t>(e.name.size()));
    Put16(local, e.localExtraLengthOverride ? e.localExtraLengthOverride
                                            : static_cast<std::uint32_t>(e.localExtra.size()));
    body += local + e.name + e.localExtra + payload;

    std::string central;
    Put32(central, archive::kCentralHeaderSignature);
    Put16(central, e.madeBy);
    Put16(central, 20);
    Put16(central, flags);
    Put16(central, e.method);
    Put32(central, e.dosDateTime);
    Put32(central, crc);
    Put32(central, compressedSize);
    Put32(central, size);
    Put16(central, static_cast<std::uint32_t>(e.name.size()));
    Put16(central, 0);  // extra
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, e.external);
    Put32(central, offset);
    directory += central + e.name;
  }
  std::string end;
  Put32(end, archive::kEndRecordSignature);
  Put16(end, options.thisDisk);
  Put16(end, options.directoryDisk);
  Put16(end, static_cast<std::uint32_t>(int(entries.size()) + options.entriesOnDiskDelta));
  Put16(end, static_cast<std::uint32_t>(entries.size()));
  Put32(end, static_cast<std::uint32_t>(directory.size()));
  Put32(end, static_cast<std::uint32_t>(body.size()));
  Put16(end, static_cast<std::uint32_t>(options.comment.size()));
  return options.prefix + body + directory + end + options.comment;
}

// Position of the |n|-th (0-based) central header in a built archive
// without prefix bytes.
inline std::size_t CentralHeaderAt(const std::string& zip, int n) {
  std::size_t at = 0;
  const std::string sig("PK\x01\x02", 4);
  for (int i = 0; i <= n; ++i) at = zip.find(sig, i ? at + 1 : 0);
  return at;
}

}  // namespace ziptest
