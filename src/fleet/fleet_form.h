#ifndef HJ5_FLEET_FLEET_FORM_H_
#define HJ5_FLEET_FLEET_FORM_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "fleet/event.h"
#include "fleet/fleet_clock.h"
#include "fleet/observer.h"
#include "fleet/upload_gate.h"
#include "update/form_ops.h"

namespace hj5::fleet {

// The form of one device's update in a fleet. Boxes, the two lines and the
// restart counter become events; a box never waits for anyone. The upload
// (message 102) runs at once on the calling thread, the worker, after
// waiting for its place at the upload gate.
//
// Threading: the FormOps calls on the worker; Tick(), view() and the
// queries on the engine's thread; Interrupt() on any. Every event of one
// device goes to the sink in order, one at a time.
class FleetForm final : public FormOps {
 public:
  using Sink = std::function<void(const Event&)>;

  // What the upload needs: the handler of message 102 (the runner's
  // SendFirmware), the bytes sent so far and the file's size.
  struct Upload {
    std::function<Status()> send;
    std::function<std::uint64_t()> bytes_sent;
    std::uint64_t total = 0;
  };

  FleetForm(FleetClock& clock, Sink sink);

  // Must be called before the update starts. With a gate, the upload waits
  // for its place there.
  void Attach(Upload upload, UploadGate* gate = nullptr);

  void ShowBox(BoxKind kind, const std::string& text,
               const std::string& cause) override;
  void ShowFailureBox(const Status& failure) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  void SetUpdateEnabled(bool) override {}  // no button to enable
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  Status SendFirmwareMessage() override;
  void Interrupt() override;

  // Counts the restart counter on to `now` and reports the upload's
  // progress; the engine calls it a few times a second.
  void Tick(SteadyTime now);

  DeviceView view() const;

 private:
  void EmitLocked(EventKind kind, std::string text = "", std::string cause = "",
                  int code = 0);
  // The upload itself, once it may go.
  Status SendNow();

  FleetClock& clock_;
  const Sink sink_;
  Upload upload_;
  UploadGate* gate_ = nullptr;
  std::atomic<bool> interrupted_{false};

  mutable std::mutex mutex_;  // guards everything below; held while emitting
  std::string status_;
  bool timer_running_ = false;
  SteadyTime timer_start_;
  int ticks_ = 0;
  bool queued_ = false;
  bool uploading_ = false;
  std::uint64_t bytes_told_ = 0;
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_FLEET_FORM_H_
