#ifndef HJ5_XMLCHECK_XML_FILE_CHECK_H_
#define HJ5_XMLCHECK_XML_FILE_CHECK_H_

#include <string>
#include <string_view>

#include "platform/form_ops.h"

namespace hj5 {

// What the check found.
enum class XmlCheckResult {
  kAccepted,    // the first non-blank line begins with "<?xml"
  kRefused,     // it does not, or there is no such line
  kUnreadable,  // cannot be opened or read, or is not a regular file
};

// Reads the file as text (a CR before an LF is dropped, a Ctrl-Z byte ends
// it) up to the first five characters of its first non-blank line; leading
// tab, LF, VT, FF, CR and space are blank, no byte at or above 0x80 is.
// Streams through a fixed buffer: constant memory whatever the file.
// When given, `cause` receives why the file is kUnreadable, for a
// maintainer's log ("open: No such file or directory", "read: Input/output
// error", "not a regular file"), and is empty otherwise.
XmlCheckResult CheckXmlFile(const std::string& path,
                            std::string* cause = nullptr);

// The same over bytes held in memory.
XmlCheckResult CheckXmlText(std::string_view bytes);

// The click's check of the chosen file: shows "File Open Failure." when the
// file cannot be read. Returns 0 when accepted, -1 otherwise; `cause`, when
// given, says why a file was refused (as CheckXmlFile() for one that cannot
// be read). UI thread.
int XmlFileCheck(FormOps& form, const std::string& path,
                 std::string* cause = nullptr);

}  // namespace hj5

#endif  // HJ5_XMLCHECK_XML_FILE_CHECK_H_
