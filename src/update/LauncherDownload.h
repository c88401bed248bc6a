// How a new launcher reaches the executable folder as "NewTavrel.exe": a
// download that broke off in an earlier run continues where it stopped
// (http/PartialDownload.h), and each way of getting the file is checked
// exactly as a whole download is before anything is swapped; a way that
// fails or is refused gives way to the next one in the same run, ending
// with a download of the whole file from its first byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "http/PartialDownload.h"
#include "release/PatchOffer.h"

class CZuduvizApp;

namespace update {

// The record of a broken download, beside it in the executable folder.
constexpr const wchar_t* kPartialRecordFileName = L"NewTavrel.exe.resume";
// A downloaded patch while it is applied, beside it too.
constexpr const wchar_t* kPatchFileName = L"NewTavrel.patch";

// Reads the patch offers (release/PatchOffer.h) of the configuration at
// |configPath| into |out|: offers 1, 2, ... up to the first that is missing;
// a malformed one ends the list there too (logged).
void ReadPatchOffers(const wchar_t* configPath, PatchOffers* out);

// What the kept bytes of a download are bound to: the published version key
// and, from a signed configuration, the SHA-256 of the file
// ("KEY sha256=HEX"); |sha256| null for an unsigned one. False, with |out|
// untouched, when the key is not header-safe ASCII or the text does not fit.
bool MakeReleaseIdentity(const wchar_t* publishedKey, const std::uint8_t* sha256,
                         wchar_t (&out)[kReleaseIdentityChars]);

// Checks the file at |target| as the release the configuration published,
// deleting it when it is not; one of kSwapDone, kSwapRefused, kSwapFailed
// (UpdateCheck.h), with the reason logged.
using LauncherCheck = int (*)(CZuduvizApp& app, const wchar_t* target);

// Brings app.m_updAddr's launcher to |target| through the update window and
// has |check| pass it: from the patch app.m_updPatches offers for this very
// launcher file, when there is one and no broken download of the release is
// kept; continuing a broken download of the same release when
// its kept bytes still fit, and once more from the first byte when the
// server refuses the continuation or the continued file fails |check|. A
// patch that cannot be downloaded, is refused by the applier or makes a
// file that fails |check| gives way to the whole file in the same run.
// kSwapDone when |target| holds the checked launcher. A transfer that fails
// or is cancelled keeps its bytes (and their record) for the next run.
int ObtainNewLauncher(CZuduvizApp& app, const wchar_t* target, LauncherCheck check);

}  // namespace update
