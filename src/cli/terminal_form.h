#ifndef HJ5_CLI_TERMINAL_FORM_H_
#define HJ5_CLI_TERMINAL_FORM_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "cli/event.h"
#include "cli/upload_gate.h"
#include "update/form_ops.h"

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
    std::function<Status()> send;
    std::function<std::uint64_t()> bytes_sent;
    std::uint64_t total = 0;
  };

  // What the live line shows.
  struct View {
    std::string status;
    bool queued = false;  // waiting for a place among the uploads
    bool uploading = false;
    std::uint64_t bytes = 0;
    std::uint64_t total = 0;
  };

  TerminalForm(std::string device, Sink sink);

  // Must be called before the update starts. With a gate, the upload waits
  // for its place there.
  void Attach(Upload upload, UploadGate* gate = nullptr);

  void ShowBox(BoxKind kind, const std::string& text,
               const std::string& cause) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  void SetUpdateEnabled(bool) override {}  // no button to enable
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  Status SendFirmwareMessage() override;
  void Interrupt() override;

  // Counts the restart counter on to `now` and reports the upload's
  // progress; the front end calls it a few times a second.
  void Tick(Clock::time_point now);

  View view() const;

 private:
  void EmitLocked(std::string kind, std::string text, std::string cause = "");
  // The upload itself, once it may go.
  Status SendNow();

  const std::string device_;
  const Sink sink_;
  Upload upload_;
  UploadGate* gate_ = nullptr;
  std::atomic<bool> interrupted_{false};

  mutable std::mutex mutex_;  // guards everything below; held while emitting
  std::string status_;
  bool timer_running_ = false;
  Clock::time_point timer_start_;
  int ticks_ = 0;
  bool queued_ = false;
  bool uploading_ = false;
  std::uint64_t bytes_told_ = 0;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_TERMINAL_FORM_H_
