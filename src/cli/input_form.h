#ifndef HJ5_CLI_INPUT_FORM_H_
#define HJ5_CLI_INPUT_FORM_H_

#include <map>
#include <string>
#include <vector>

#include "platform/form_ops.h"

namespace hj5::cli {

// The form the click's checks read the values from: fields hold what the
// command line gave, and a refusal box is kept as a text. Nothing else of a
// form is there. One thread.
class InputForm final : public FormOps {
 public:
  void Type(FieldId field, std::string text) { fields_[field] = text; }
  const std::vector<std::string>& boxes() const { return boxes_; }

  void ShowBox(BoxKind, const std::string& text) override {
    boxes_.push_back(text);
  }
  void SetFieldText(FieldId field, const std::string& text) override {
    fields_[field] = text;
  }
  std::string FieldText(FieldId field) override { return fields_[field]; }
  bool FieldTextFits(FieldId) override { return true; }
  void SetUpdateEnabled(bool) override {}
  void StartRestartTimer() override {}
  void StopRestartTimer() override {}
  int SendFirmwareMessage() override { return -1; }
  std::optional<ChosenFile> ChooseFile(const FileChooserRequest&) override {
    return std::nullopt;
  }
  void Interrupt() override {}

 private:
  std::map<FieldId, std::string> fields_;
  std::vector<std::string> boxes_;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_INPUT_FORM_H_
