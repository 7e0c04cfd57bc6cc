#ifndef HJ5_UPDATE_UPDATE_RUN_H_
#define HJ5_UPDATE_UPDATE_RUN_H_

#include <cstdint>
#include <string>

#include "device/commands.h"
#include "device/failure_codes.h"
#include "platform/status.h"
#include "update/update_context.h"
#include "update/update_outcome.h"

namespace hj5 {

// The pause before most steps.
inline constexpr std::uint32_t kStepPauseMs = 1000;

inline constexpr const char* kUpdateCompleted = "Update completed.";
inline constexpr const char* kUpdateError =
    "An error occurred during the updating process.";

// One run of a procedure on the worker: it tells the operator through the
// form, and keeps the outcome beside what it shows. The sequences are
// written on it, so that every box, line and command also counts in the
// outcome. Worker thread.
class UpdateRun {
 public:
  explicit UpdateRun(const UpdateContext& context) : context_(context) {}
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  const UpdateContext& context() const { return context_; }
  FormOps& form() const { return context_.form; }

  // `step` is the one the run has reached.
  void Reached(UpdateStep step) { outcome_.reached = step; }

  // The status line := `text`.
  void ShowStatus(const std::string& text);

  // One step: sleeps `pause_ms` (none when 0), shows `status`, sends
  // `command` and reports a failure. True when the device took it.
  bool Step(UpdateStep step, std::uint32_t pause_ms, const char* status,
            Command command);

  // Tells the operator of a failure in this order: warning box, control
  // 1009 enabled, status line := its text, notice line emptied.
  void ReportError(const Status& failure);

  // A warning box with `text`, a failure of `code` (failure_code).
  void Warn(int code, const std::string& text);

  // The end of a run: notice line emptied, `text` in the status line and in
  // a box of `kind`, control 1009 enabled. A warning is a failure of `code`.
  void End(BoxKind kind, const std::string& text, int code = 0);

  // The end of a failed run: "An error occurred during the updating
  // process." in a warning box.
  void EndInError() {
    End(BoxKind::kWarning, kUpdateError, failure_code::kUpdateError);
  }

  // Keeps a failure the operator was told of elsewhere (the upload's box).
  void Keep(const Status& failure);

  // The wait after the last restart was answered.
  void RestartAnswered() {
    outcome_.answered_after_restart = true;
    outcome_.restart_pending = false;
  }

  // The identity check found the device left in update: from now on it
  // counts as switched until the tail has undone it.
  void FoundInUpdate() {
    outcome_.found_in_update = true;
    switched_ = true;
  }

  // A device an earlier, stopped run may have left in update.
  void MayBeSwitched() { switched_ = true; }

  // The upload began and did not end stored.
  void UploadCut() { outcome_.partial_upload = true; }

  // The operator is told "Update completed.".
  void MarkCompleted() { outcome_.completed = true; }

  // How the run ended.
  UpdateOutcome Finish() const;

 private:
  void Track(Command command, bool accepted, bool refused);

  const UpdateContext context_;
  UpdateOutcome outcome_;
  bool switched_ = false;       // FTP on or the update mark was sent
  bool ftp_off_ = false;        // FTP off went through
  bool code_restored_ = false;  // the device code went back into user9
  bool settled_ = false;        // and a restart after both went through
};

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_RUN_H_
