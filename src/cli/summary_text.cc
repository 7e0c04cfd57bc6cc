#include "cli/summary_text.h"

#include <cmath>
#include <cstdio>

namespace hj5::cli {
namespace {

using fleet::HaltReason;

std::string Devices(std::size_t count, const char* what) {
  return std::to_string(count) +
         (count == 1 ? " running device" : " running devices") + what;
}

// "in 3 min", "in 1 h 05 min".
std::string Remaining(double minutes) {
  const long whole = static_cast<long>(minutes + 0.5);
  if (whole < 60) return "in " + std::to_string(std::max(whole, 1L)) + " min";
  char text[64];
  std::snprintf(text, sizeof text, "in %ld h %02ld min", whole / 60,
                whole % 60);
  return text;
}

// The length of the UTF-8 sequence starting at `text[i]`, and its code
// point; 0 when it is no valid sequence.
std::size_t Decode(const std::string& text, std::size_t i, char32_t* c) {
  const auto byte = [&](std::size_t k) {
    return static_cast<unsigned char>(text[i + k]);
  };
  const unsigned char lead = byte(0);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  if (length == 0 || i + length > text.size()) return 0;
  *c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (byte(k) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (*c < kLeast[length] || *c > 0x10FFFF || (*c >= 0xD800 && *c < 0xE000))
    return 0;
  return length;
}

}  // namespace

std::string HaltNote(const fleet::Halt& halt) {
  switch (halt.reason) {
    case HaltReason::kDrain:
      return "Interrupted: no further device starts; " +
             Devices(halt.running, " will finish.") +
             " Ctrl-C again stops them and restores their devices.";
    case HaltReason::kRestore:
      return "Stopping " + Devices(halt.running, "") +
             "; each that may be left in update is restored (FTP off, "
             "device code back, restart). Ctrl-C again abandons them.";
    case HaltReason::kAbandon:
      return "Abandoning " + Devices(halt.running, " now.");
    case HaltReason::kCanary:
      return "The canary " + Shown(halt.device) +
             " failed: no other device starts.";
    case HaltReason::kBudget:
      return std::to_string(halt.failed) + " devices failed, more than the " +
             std::to_string(halt.allowed) +
             " allowed: no further device starts.";
    case HaltReason::kRecord:
      return "The run's folder cannot be written (" + halt.cause +
             "): no further device starts; " +
             Devices(halt.running, " will finish.");
    case HaltReason::kWindow:
      return "The window has closed: no further device starts; " +
             Devices(halt.running, " will finish.");
  }
  return "";
}

std::string StopSentence(const fleet::RunReport& report) {
  if (!report.stop) return "";
  switch (*report.stop) {
    case HaltReason::kCanary:
      return "Stopped by the canary: a canary failed, so no other device "
             "was started.";
    case HaltReason::kBudget:
      return "Stopped by the failure budget: " +
             std::to_string(report.Count(true, false)) +
             " failed, more than the " +
             std::to_string(report.max_failures.value_or(0)) +
             " allowed; no further device was started.";
    case HaltReason::kRecord:
      return "Stopped because the run's folder cannot be written: no "
             "further device was started.";
    case HaltReason::kWindow: {
      const std::size_t left = report.Count(false, false);
      const long overrun = std::lround(report.window_overrun_seconds);
      char ran[64];
      std::snprintf(ran, sizeof ran, "%ld min %02ld s", overrun / 60,
                    overrun % 60);
      return "Stopped by the window: " + std::to_string(left) +
             (left == 1 ? " device" : " devices") +
             " not started (not-started.csv and --resume carry them to the "
             "next window); " +
             (overrun > 0 ? "the running ones overran its close by " +
                                std::string(ran) + "."
                          : "no device ran past its close.");
    }
    default:
      return "";
  }
}

std::string WindowWaitNote(const fleet::Window& window) {
  return "Waiting for the window " + window.Text() + ": it opens at " +
         fleet::Window::Clock(window.start) + ".";
}

std::string ProgressLine(const fleet::Progress& progress) {
  std::string head = std::to_string(progress.done) + " of " +
                     std::to_string(progress.devices) + " done, " +
                     std::to_string(progress.failed) + " failed, " +
                     std::to_string(progress.running) + " running, " +
                     std::to_string(progress.uploading) + " uploading";
  if (!progress.per_minute) return head;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f/min", *progress.per_minute);
  head += std::string(", ") + rate;
  if (progress.eta_seconds)
    head += ", end " + Remaining(*progress.eta_seconds / 60);
  return head;
}

std::vector<std::string> SummaryLines(const fleet::RunReport& report) {
  std::vector<std::string> lines;
  lines.push_back(std::to_string(report.Count(true, true)) + " of " +
                  std::to_string(report.outcomes.size()) +
                  " devices succeeded; " +
                  std::to_string(report.Count(true, false)) + " failed, " +
                  std::to_string(report.Count(false, false)) + " not started");
  if (std::string stop = StopSentence(report); !stop.empty())
    lines.push_back(std::move(stop));
  std::string left, partial;
  for (const fleet::DeviceOutcome& outcome : report.outcomes) {
    if (outcome.left_in_update()) left += "\n  " + Shown(outcome.device);
    if (outcome.partial_upload()) partial += "\n  " + Shown(outcome.device);
  }
  if (!left.empty()) {
    lines.push_back(
        "May be left with FTP on or user9 \"UPDATE\" (hj5-update --restore "
        "repairs them; the next update accepts them):" +
        left);
  }
  if (!partial.empty()) {
    lines.push_back("May hold part of the file (its upload was cut short):" +
                    partial);
  }
  return lines;
}

std::string Shown(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t length = Decode(text, i, &c);
    if (length == 0 || c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      shown += '?';
      i += length == 0 ? 1 : length;
      continue;
    }
    shown.append(text, i, length);
    i += length;
  }
  return shown;
}

}  // namespace hj5::cli
