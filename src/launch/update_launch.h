#ifndef HJ5_LAUNCH_UPDATE_LAUNCH_H_
#define HJ5_LAUNCH_UPDATE_LAUNCH_H_

#include <optional>
#include <string>

#include "launch/launch_checks.h"
#include "update/form_ops.h"
#include "update/update_runner.h"

namespace hj5 {

// What the file chooser is opened with.
struct FileChooserRequest {
  std::string initial_directory;  // empty: the toolkit's choice
  std::string default_suffix;     // "XML"
  std::string initial_name;       // "*.xml"
  std::string filter;             // "XML File(*.xml)"
};

// What the click reads of the form itself. UI thread only.
class FormInput {
 public:
  FormInput() = default;
  FormInput(const FormInput&) = delete;
  FormInput& operator=(const FormInput&) = delete;
  virtual ~FormInput() = default;

  // Opens the file-open chooser. Returns the chosen file, or nullopt when
  // the operator cancelled (or the form closed it).
  virtual std::optional<ChosenFile> ChooseFile(
      const FileChooserRequest& request) = 0;

  // The text of a field as the device gets it (see TypedValues); nullopt
  // when a character of it has no form in those bytes.
  virtual std::optional<std::string> FieldText(FieldId field) = 0;
};

// What the click of "XML-UPDATE" works on.
struct LaunchContext {
  FormOps& form;
  FormInput& input;
  UpdateRunner& runner;
  // The directory the chooser opens in; empty: the toolkit's choice.
  std::string program_directory;
};

// What the click asks the chooser for.
FileChooserRequest ChooserRequest(const std::string& program_directory);

// The values typed into the form's fields.
TypedValues TypedIn(FormInput& input);

// The click handler of "XML-UPDATE": chooses the file, checks it and the
// typed values (showing a refusal's boxes) and starts the update on the
// runner. A click while an update runs only says so. UI thread; returns at
// once.
void LaunchUpdate(LaunchContext& context);

}  // namespace hj5

#endif  // HJ5_LAUNCH_UPDATE_LAUNCH_H_
