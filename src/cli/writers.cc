#include "cli/writers.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "cli/summary_text.h"
#include "fleet/record_json.h"

namespace hj5::cli {
namespace {

using fleet::Event;
using fleet::EventKind;

// How often plain output tells the run's progress, in seconds.
constexpr double kProgressEvery = 5;

std::string Now() { return fleet::UtcText(std::chrono::system_clock::now()); }

std::string Percent(std::uint64_t bytes, std::uint64_t total) {
  const std::uint64_t percent = total == 0 ? 100 : bytes * 100 / total;
  return std::to_string(std::min<std::uint64_t>(percent, 100)) + "%";
}

std::string LiveLine(const std::string& device, const fleet::DeviceView& view,
                     std::size_t width) {
  std::string line = Shown(device) + "  " + Shown(view.status);
  if (view.queued) line += "  upload queued";
  if (view.uploading) line += "  upload " + Percent(view.bytes, view.total);
  if (line.size() > width) line.resize(width);
  return line;
}

bool IsUpload(const Event& event) {
  return event.kind == EventKind::kUpload || event.kind == EventKind::kUploaded;
}

// An event as a plain line; empty for those plain output leaves out.
std::string PlainLine(const std::string& device, const Event& event) {
  if (event.kind == EventKind::kTick) return "";
  if (event.kind == EventKind::kNotice && event.text.empty()) return "";
  if (event.kind == EventKind::kUpload && event.bytes != 0) return "";
  std::string line = fleet::UtcText(event.time) + " " + Shown(device) + " " +
                     fleet::EventKindName(event.kind);
  if (IsUpload(event)) {
    line += " " + std::to_string(event.bytes) + "/" +
            std::to_string(event.total) + " bytes";
    if (event.kind == EventKind::kUploaded)
      line += ", result " + std::to_string(event.code);
  }
  if (const std::string text = fleet::EventText(event); !text.empty())
    line += " " + Shown(text);
  if (!event.cause.empty()) line += " (" + Shown(event.cause) + ")";
  return line;
}

// One JSON object a line; a byte that is no part of valid UTF-8 (texts
// from devices and servers may hold any) becomes U+FFFD. The lines are
// flushed with the next progress, a few times a second, and with every
// note.
void WriteJson(std::ostream& out, const nlohmann::ordered_json& object) {
  out << fleet::JsonLineOf(object) << "\n";
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

}  // namespace

StreamWriter::StreamWriter(OutputMode mode, std::ostream& out,
                           std::ostream& err, std::size_t live_width)
    : mode_(mode), out_(out), err_(err), live_width_(live_width) {}

void StreamWriter::RunStarted(const fleet::Plan& plan, fleet::WallTime) {
  plan_ = &plan;
}

void StreamWriter::DeviceEvent(std::size_t index, const Event& event) {
  const std::string& device = plan_->devices[index].label;
  switch (mode_) {
    case OutputMode::kJson: {
      nlohmann::ordered_json object = {
          {"device", device},
          {"time", fleet::UtcText(event.time)},
          {"kind", fleet::EventKindName(event.kind)},
          {"text", fleet::EventText(event)},
          {"cause", event.cause}};
      if (event.kind == EventKind::kWarning) object["code"] = event.code;
      if (IsUpload(event)) {
        object["bytes"] = event.bytes;
        object["total"] = event.total;
      }
      if (event.kind == EventKind::kUploaded) object["result"] = event.code;
      WriteJson(out_, object);
      break;
    }
    case OutputMode::kPlain:
      if (std::string line = PlainLine(device, event); !line.empty())
        out_ << line << "\n";
      break;
    case OutputMode::kLive:
      // The boxes the form would have shown; the summary tells how each
      // device ended.
      if (event.kind == EventKind::kWarning ||
          event.kind == EventKind::kInformation) {
        std::string line = Shown(device) + "  " + Shown(event.text);
        if (!event.cause.empty()) line += " (" + Shown(event.cause) + ")";
        Keep(line);
      }
      break;
  }
}

void StreamWriter::DeviceEnded(std::size_t,
                               const fleet::DeviceOutcome& outcome) {
  const char* result = fleet::ResultName(outcome.result);
  if (mode_ == OutputMode::kJson) {
    WriteJson(out_, {{"device", outcome.device},
                     {"time", Now()},
                     {"kind", "end"},
                     {"text", result},
                     {"cause", ""}});
  } else if (mode_ == OutputMode::kPlain) {
    out_ << Now() << " " << Shown(outcome.device) << " end " << result << "\n";
  }
}

void StreamWriter::Progressed(const fleet::Progress& progress) {
  out_ << std::flush;  // the lines since the last progress
  if (mode_ == OutputMode::kPlain) {
    if (progress.seconds - last_progress_ < kProgressEvery) return;
    last_progress_ = progress.seconds;
    out_ << Now() << " progress " << ProgressLine(progress) << "\n"
         << std::flush;
    return;
  }
  if (mode_ != OutputMode::kLive) return;
  std::vector<std::string> lines;
  lines.push_back(ProgressLine(progress).substr(0, live_width_));
  for (const auto& [index, view] : progress.rows)
    lines.push_back(LiveLine(plan_->devices[index].label, view, live_width_));
  if (lines == live_) return;
  EraseLive();
  live_ = std::move(lines);
  DrawLive();
}

void StreamWriter::Halted(const fleet::Halt& halt) {
  Note(HaltNote(halt));
  if (halt.reason == fleet::HaltReason::kRecord) {
    err_ << "hj5-update: " << *plan_->results_dir
         << " is incomplete: " << halt.cause << "\n"
         << std::flush;
  }
}

void StreamWriter::WaitingForWindow() { Note(WindowWaitNote(*plan_->window)); }

void StreamWriter::Dropped(std::size_t events) {
  Note(std::to_string(events) + " events not shown");
}

void StreamWriter::Note(const std::string& text) {
  if (mode_ == OutputMode::kJson) {
    WriteJson(out_, {{"time", Now()}, {"kind", "note"}, {"text", text}});
    out_ << std::flush;
  } else if (mode_ == OutputMode::kPlain) {
    out_ << Now() << " " << text << "\n" << std::flush;
  } else {
    Keep(text);
  }
}

void StreamWriter::EraseLive() {
  for (std::size_t i = 0; i < live_.size(); ++i) out_ << "\x1b[1A\x1b[2K";
  out_ << "\r";
}

void StreamWriter::DrawLive() {
  for (const std::string& line : live_) out_ << line << "\n";
  out_ << std::flush;
}

void StreamWriter::Keep(const std::string& line) {
  EraseLive();
  out_ << line << "\n";
  DrawLive();
}

void StreamWriter::SummaryTable(const fleet::RunReport& report) {
  std::size_t width = 6;
  for (const fleet::DeviceOutcome& outcome : report.outcomes)
    width = std::max(width, outcome.device.size());
  out_ << "\n"
       << Padded("device", width) << "  " << Padded("result", 13)
       << "  last text\n";
  for (const fleet::DeviceOutcome& outcome : report.outcomes) {
    out_ << Padded(Shown(outcome.device), width) << "  "
         << Padded(fleet::ResultName(outcome.result), 13) << "  "
         << Shown(outcome.text) << "\n";
  }
  for (const std::string& line : SummaryLines(report)) out_ << line << "\n";
}

void StreamWriter::RunEnded(const fleet::RunReport& report, int exit_status) {
  if (mode_ == OutputMode::kJson) {
    WriteJson(out_, fleet::SummaryJson(report, exit_status,
                                       std::chrono::system_clock::now()));
    out_ << std::flush;
  } else {
    if (mode_ == OutputMode::kLive) {
      EraseLive();
      live_.clear();
    }
    SummaryTable(report);
    out_ << std::flush;
  }
  if (!report.record_failure.empty()) {
    err_ << "hj5-update: " << *plan_->results_dir
         << " is incomplete: " << report.record_failure
         << "; a --resume runs the devices it lacks again\n"
         << std::flush;
  }
}

}  // namespace hj5::cli
