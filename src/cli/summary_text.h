#ifndef HJ5_CLI_SUMMARY_TEXT_H_
#define HJ5_CLI_SUMMARY_TEXT_H_

#include <string>
#include <vector>

#include "fleet/observer.h"
#include "fleet/outcome.h"

namespace hj5::cli {

// The operator's words for what the engine tells, shared by every writer
// (the terminal, plain lines, JSON notes, the web page and the report).

// The note of a halt as it comes: "The canary 10.0.0.5:80 failed: no
// other device starts.", "Interrupted: ...".
std::string HaltNote(const fleet::Halt& halt);

// The summary's sentence on what ended the run early, "Stopped by the
// canary: ..."; empty when nothing did.
std::string StopSentence(const fleet::RunReport& report);

// "Waiting for the window 01:00-05:00: it opens at 01:00.".
std::string WindowWaitNote(const fleet::Window& window);

// "12 of 1000 done, 2 failed, 16 running, 3 uploading, 41/min, end in
// 3 min".
std::string ProgressLine(const fleet::Progress& progress);

// The summary's closing lines: the counts, what stopped the run, the
// devices that may be left in update or hold part of the file.
std::vector<std::string> SummaryLines(const fleet::RunReport& report);

// `text` fit for a terminal: every C0 and C1 control character, DEL and
// byte that is no part of valid UTF-8 shown as "?".
std::string Shown(const std::string& text);

}  // namespace hj5::cli

#endif  // HJ5_CLI_SUMMARY_TEXT_H_
