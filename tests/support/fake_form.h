#ifndef HJ5_TESTS_SUPPORT_FAKE_FORM_H_
#define HJ5_TESTS_SUPPORT_FAKE_FORM_H_

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "launch/update_launch.h"
#include "support/transcript.h"
#include "update/form_ops.h"

namespace hj5::test {

// A form that records what the operator would see:
//   status "Processing(0)"        notice ""
//   box warning "Update Failure." box information "Update completed."
//   button 1009 enabled           timer start / timer stop
//   message 102 -> 0              chooser / worker started
// Field writes other than the two lines are recorded as "field 1000 "..."".
// A box's cause is kept apart, in `causes`, not in the transcript.
class FakeForm final : public FormOps, public FormInput {
 public:
  explicit FakeForm(Transcript& transcript) : transcript_(transcript) {}

  void ShowBox(BoxKind kind, const std::string& text,
               const std::string& cause) override;
  void SetFieldText(FieldId field, const std::string& text) override;
  void SetUpdateEnabled(bool enabled) override;
  void StartRestartTimer() override;
  void StopRestartTimer() override;
  Status SendFirmwareMessage() override;
  void Interrupt() override { interrupted = true; }

  std::optional<std::string> FieldText(FieldId field) override;
  std::optional<ChosenFile> ChooseFile(
      const FileChooserRequest& request) override;

  // Sets a field without recording it (what the operator typed).
  void Type(FieldId field, const std::string& text) { fields_[field] = text; }
  // The text of a field, as last set or typed.
  std::string Text(FieldId field) { return fields_[field]; }

  // The handler of message 102; without one the message stores the file.
  std::function<Status()> on_firmware_message;
  // The cause of each box shown, in order.
  std::vector<std::string> causes;
  // The chooser's answer; nullopt: cancelled.
  std::optional<ChosenFile> chooser_answer;
  // The request the chooser was last opened with.
  FileChooserRequest last_chooser_request;
  bool button_enabled = true;
  // Fields whose text has a character the device's bytes cannot carry.
  std::set<FieldId> unfitting_fields;
  // Set by Interrupt(); not part of what the operator sees.
  std::atomic<bool> interrupted{false};

 private:
  Transcript& transcript_;
  std::map<FieldId, std::string> fields_;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_FAKE_FORM_H_
