// The launcher keeps itself current: it compares the version key published on
// the update server with its own, downloads a newer launcher in the update
// window, and swaps it in for its own executable.
#pragma once

class CZuduvizApp;

namespace update {

// How long the update check waits for the configuration at most, from the
// request to the last byte. A slower answer counts as no configuration: the
// run goes on without an update (logged).
constexpr unsigned kConfigFetchDeadlineSeconds = 15;

// How long the launcher download may receive less than kStallProgressBytes
// (http/HttpClient.h) before it is given up: a trickle holds the player
// neither without an update nor without the game for longer.
constexpr unsigned kDownloadStallSeconds = 30;

// Downloads "ConfigTavrel.htm" from the update server into the executable
// folder, reads the published key ("VerKey"/"Tavrel", into |keyAnsi| in the
// ANSI code page, 64 bytes) and the download address ("VerKey"/"UpdAddr",
// into app.m_updAddr), and deletes the file. Returns 1 when the file was
// downloaded completely and read; 0 with both left as they were otherwise,
// also when a value fills its buffer (it may have been cut; logged).
// A build with an update key (UpdatePublicKey.h) also fetches
// "ConfigTavrel.htm.sig" with the same deadline and checks the signature
// before it reads any value, then the signed values (SignedRelease.h) into
// app.m_updRelease; an unsigned, badly signed or expired configuration, or
// one that offers a lower version, reads as none (logged).
int FetchUpdateConfig(CZuduvizApp& app, char* keyAnsi);

// Nonzero when the server offers a launcher whose key differs from this
// executable's; 0 when not, when the configuration could not be fetched or
// carried no key, when the published key is not 32 characters long (no
// launcher file could match it; logged), or when this executable cannot be
// read for its digest.
// Fills app.m_updAddr (and app.m_updKey) whenever the configuration was read.
int CheckForUpdate(CZuduvizApp& app);

// The "autoUpd" value of "GsZuduviz.ini" beside the executable ("1" when the
// file or the key is missing), at most 259 characters. Only "1" allows updates.
void ReadAutoUpdate(wchar_t* text);

// Results of SwapInNewLauncher.
constexpr int kSwapFailed = 0;   // not swapped: the download failed, was cancelled or is not the release
constexpr int kSwapDone = 1;     // the new launcher stands at the executable's path
constexpr int kSwapRefused = 2;  // not swapped: the download is not the file the signed configuration names

// Brings the offered launcher to "NewTavrel.exe" through the update window
// (ObtainNewLauncher, LauncherDownload.h: a patch for this launcher, the
// rest of a download an earlier run kept, or the whole file) and, when the
// file has the signed SHA-256 (builds with an update key) and is a launcher
// whose own version key (LauncherFile.h) equals the published key
// app.m_updKey in full, moves the running
// executable aside to "OldTavrel.exe.tmp" and the new file into its place.
// Returns kSwapDone when the new launcher stands at the executable's path;
// kSwapRefused or kSwapFailed otherwise, with the running executable where
// it was and the reason in the update log.
int SwapInNewLauncher(CZuduvizApp& app);

// Deletes "OldTavrel.exe" and "OldTavrel.exe.tmp" beside the executable when
// they are files; failures (the old launcher still running) are ignored.
void DeleteOldLauncher();

}  // namespace update
