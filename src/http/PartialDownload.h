// Resuming a launcher download that broke off. The bytes it received stay in
// the target file; a small record beside it names the release they belong
// to, the validator the server gave for them (its entity tag, else its
// last-modified time) and the whole file's size. The next attempt asks only
// for the rest ("Range: bytes=KEPT-") on the condition that the server's file
// is still the one of that validator ("If-Range"); a server that ignores
// ranges or whose file changed answers 200 with the whole file, and the
// download starts again from its first byte.
//
// Both files are in the executable folder, which anybody with the player's
// rights may write: the record is read with a size limit and parsed
// strictly, and a kept size the record does not account for discards both.
// Pure text and arithmetic here; the files are handled in
// PartialDownload_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/FixedText.h"

namespace update {

// An entity tag or last-modified text, terminator included. Longer ones are
// not used: such a download is simply not resumable.
constexpr std::size_t kValidatorChars = 128;
// What a record names the release by (UTF-16 of ASCII), terminator included.
constexpr std::size_t kReleaseIdentityChars = 192;
// The largest record that is read; real ones are about 300 bytes.
constexpr std::size_t kMaxPartialRecordBytes = 1024;
// The largest download that is resumed (the launcher is about 21 MB).
constexpr std::uint32_t kMaxResumableBytes = 512u * 1024 * 1024;
// Room for "Range: bytes=4294967295-\r\nIf-Range: VALIDATOR\r\n".
constexpr std::size_t kRangeHeaderChars = 48 + kValidatorChars;

// Where a download continues: |offset| bytes of the |total| are on disk and
// were sent under |validator|. An offset of 0 means from the start.
struct ResumePoint {
  std::uint32_t offset = 0;
  std::uint32_t total = 0;
  wchar_t validator[kValidatorChars] = {};
};

// The resume fields of a window-form transfer (DownloadState::partial).
// Filled on the window's thread before the transfer starts
// (PreparePartialDownload); an empty |recordPath| leaves the transfer as it
// always was: from the first byte, nothing kept for a next attempt.
struct PartialDownload {
  wchar_t recordPath[base::kPathChars] = {};
  wchar_t identity[kReleaseIdentityChars] = {};
  ResumePoint from;
  // Set by the transfer: the bytes it kept from an earlier attempt (0 when
  // it started from the first byte).
  std::uint32_t resumedFrom = 0;
};

// True for a text that may go into a request header as it is: 1 to
// kValidatorChars - 1 characters of printable ASCII (blank included), no
// control character.
bool IsHeaderSafeText(const wchar_t* text);

// The validator for an If-Range of a later attempt: |etag| when it is a
// strong entity tag ("..." without the weak "W/" prefix; a weak one cannot
// guard a range), else |lastModified|; each only when header-safe. False,
// with |out| untouched, when neither serves.
bool ChooseValidator(const wchar_t* etag, const wchar_t* lastModified, wchar_t (&out)[kValidatorChars]);

// "Range: bytes=OFFSET-\r\nIf-Range: VALIDATOR\r\n" for |from| (offset above
// 0, header-safe validator); false, with |out| untouched, otherwise.
bool FormatRangeHeaders(const ResumePoint& from, wchar_t (&out)[kRangeHeaderChars]);

// A Content-Range field "bytes FIRST-LAST/TOTAL" (decimal, no blanks inside
// the numbers, FIRST <= LAST < TOTAL).
struct ContentRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t total = 0;
};
bool ParseContentRange(const wchar_t* text, ContentRange* out);

// How a transfer treats the answer to its request.
enum class RangeAnswer {
  kWhole,      // the whole file follows: write it from the first byte
  kContinues,  // exactly the rest of the kept file follows: append it
  kRefused,    // an answer that does not continue the kept bytes
};

// Judges the answer to a request for |from| (offset 0: no range was asked).
// Without a range every answer is kWhole, as always. With one: 200 is kWhole
// (the server ignores ranges, or its file is not the validator's any more);
// 206 is kContinues only when |haveRange| and the range starts exactly at
// the kept size, runs to the end of a file of the kept total, and the
// declared length is that rest; every other answer (206 otherwise, 416, a
// server error) is kRefused.
RangeAnswer JudgeRangeAnswer(const ResumePoint& from, unsigned status, bool haveRange, const ContentRange& range,
                             std::uint32_t declaredLength);

// The record's text, ASCII:
//   "OrlixPartial 1\r\nrelease IDENTITY\r\nvalidator VALIDATOR\r\ntotal N\r\n"
// False when a part is not header-safe ASCII or the whole does not fit
// |capacity| bytes; |size| receives the length.
bool FormatPartialRecord(const wchar_t* identity, const wchar_t* validator, std::uint32_t total, char* out,
                         std::size_t capacity, std::size_t* size);

// Parses a record's |size| bytes exactly as FormatPartialRecord writes them
// (nothing before, between or after; total 1 to kMaxResumableBytes). Fills
// the outputs only when all of it holds.
bool ParsePartialRecord(const char* bytes, std::size_t size, wchar_t (&identity)[kReleaseIdentityChars],
                        wchar_t (&validator)[kValidatorChars], std::uint32_t* total);

// The resume point a kept file of |keptSize| bytes with a record of
// (|recordIdentity|, |validator|, |total|) gives a download of the release
// |identity| whose size, when known, is |expectedTotal| (0: unknown):
// true only when the identities are equal, the kept size is above 0 and
// below the total, and the total is the expected one.
bool ResumePointFor(const wchar_t* identity, std::uint32_t expectedTotal, const wchar_t* recordIdentity,
                    const wchar_t* validator, std::uint32_t total, std::uint64_t keptSize, ResumePoint* out);

// ---- The files (PartialDownload_win.cpp) ------------------------------------

// Fills |partial| for a download of the release |identity| into |targetPath|
// with its record at |recordPath|: the resume point when the kept file and
// its record fit together (ResumePointFor; the file a plain file, the record
// at most kMaxPartialRecordBytes and well formed), else offset 0 after both
// files were deleted. False when a path or the identity does not fit.
bool PreparePartialDownload(PartialDownload* partial, const wchar_t* targetPath, const wchar_t* recordPath,
                            const wchar_t* identity, std::uint32_t expectedTotal);

// Writes the record of a download that starts from the first byte; false
// (and no record) when it cannot be written whole.
bool WritePartialRecord(const PartialDownload& partial, const wchar_t* validator, std::uint32_t total);

// Deletes |path| when it is there; failures are ignored (the next prepare
// discards what does not fit).
void DeletePartialFile(const wchar_t* path);

}  // namespace update
