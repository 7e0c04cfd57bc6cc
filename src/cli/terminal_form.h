#ifndef HJ5_CLI_TERMINAL_FORM_H_
#define HJ5_CLI_TERMINAL_FORM_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "cli/event.h"
#include "device/cause_log.h"
#include "platform/form_ops.h"

namespace hj5::cli {

// The form of one device's update on the command line. Boxes, the two lines
// and the restart counter become events; a box never waits for anyone. The
// upload (message 102) runs at once on the calling thread, the worker.
//
// Threading: the FormOps calls on the worker; Tick(), view() and the
// queries on the front end's thread; Interrupt() on any. Every event of one
// device goes to the sink in order, one at a time.
class TerminalForm final : public FormOps {
 public:
  using Sink = std::function<void(Event)>;
  using Clock = std::chrono::steady_clock;

  // What the upload needs: the handler of message 102 (the runner's
  // SendFirmware), the bytes sent so far and the file's size.
  struct Upload {
    std::function<int()> send;
    std::function<std::uint64_t()> bytes_sent;
    std::uint64_t total = 0;
  };

  // What the live line shows.
  struct View {
    std::string status;
    bool uploading = false;
    std::uint64_t bytes = 0;
    std::uint64_t total = 0;
  };

  TerminalForm(std::string device, Sink sink);

  // Must be called before the update starts.
  void Attach(CauseLog* causes, Upload upload);

  void ShowBox(BoxKind kind, const std::string& text) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  std::string FieldText(FieldId field) override;
  bool FieldTextFits(FieldId) override { return true; }
  void SetUpdateEnabled(bool) override {}
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  int SendFirmwareMessage() override;
  std::optional<ChosenFile> ChooseFile(const FileChooserRequest&) override {
    return std::nullopt;
  }
  void Interrupt() override;

  // Counts the restart counter on to `now` and reports the upload's
  // progress; the front end calls it a few times a second.
  void Tick(Clock::time_point now);

  View view() const;
  // The last box was the information "Update completed.".
  bool completed() const;
  // FTP was switched on (or may have been) and the device did not come
  // back from the restart that follows restoring it: it may be left with
  // FTP on or user9 "UPDATE".
  bool left_in_update() const;

 private:
  void EmitLocked(std::string kind, std::string text, std::string cause = "");
  std::string CauseOfLocked(const std::string& text);

  const std::string device_;
  const Sink sink_;
  CauseLog* causes_ = nullptr;
  Upload upload_;

  mutable std::mutex mutex_;  // guards everything below; held while emitting
  bool interrupted_ = false;
  std::string status_;
  std::string notice_;
  std::string last_box_;
  bool last_box_information_ = false;
  std::size_t causes_used_ = 0;  // entries of the log already told
  bool timer_running_ = false;
  Clock::time_point timer_start_;
  int ticks_ = 0;
  bool uploading_ = false;
  std::uint64_t bytes_told_ = 0;
  bool ftp_switched_ = false;  // "Processing(1)" was shown
  bool restoring_ = false;     // "Processing(7)" was shown
  bool restored_ = false;      // and the restart after it was waited for
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_TERMINAL_FORM_H_
