// Starting the game, the last step of every run that plays. When Windows
// refuses to create the game process, the launcher leaves a dated failure
// note and a system report in the install folder, hands them to the
// crash-report uploader (unless it already runs or the last report is less
// than ten minutes old), and tells the player, offering the help page.
#pragma once

#include <cstdint>

#include "base/FixedText.h"

namespace diagnostics {

// Starts the game from the install folder at idle priority and returns at
// once; on failure reports it as described above.
void LaunchGame();

// What LaunchGame shows and opens for the player; LaunchGame uses the
// skinned message box and the browser.
struct PlayerPrompts {
  // Like ui::ShowMessageBox: returns the pressed button's identifier.
  int (*showMessage)(const wchar_t* text, const wchar_t* caption, int style, const wchar_t* firstCaption,
                     const wchar_t* secondCaption);
  void (*openPage)(const wchar_t* url);
};

void LaunchGameWith(const PlayerPrompts& prompts);

// ---- Failure report rules (no Windows calls) ---------------------------------

// Seconds an uploader start holds off the next report.
constexpr std::int64_t kReportInterval = 600;

// The "lstReport" text as a signed decimal 64-bit number: leading blanks and
// a sign, then digits (0 when there are none); out-of-range values saturate.
std::int64_t ParseReportTime(const wchar_t* text);

// True when more than kReportInterval seconds passed since |lastReport|; a
// stored time in the future holds reports off until the clock passes it.
bool IsReportDue(std::int64_t now, std::int64_t lastReport);

// "游戏启动异常(<error>)".
bool FormatLaunchFailureMessage(unsigned long error, wchar_t (&out)[base::kPathChars]);

// "https://" + host + "/forums/thread-63321720".
bool FormatHelpPageUrl(const wchar_t* host, wchar_t (&out)[base::kUrlChars]);

}  // namespace diagnostics
