#ifndef HJ5_XMLCHECK_XML_FILE_CHECK_H_
#define HJ5_XMLCHECK_XML_FILE_CHECK_H_

#include <string>
#include <string_view>

#include "platform/sequential_file.h"
#include "platform/status.h"

namespace hj5 {

// The codes of the check's failures.
namespace xml_code {
inline constexpr int kNotXml = -1;  // the first non-blank line is no "<?xml"
inline constexpr int kUnreadable =
    -2;  // cannot be opened or read, or no regular file
}  // namespace xml_code

// The check's own text for a file it cannot read.
inline constexpr const char* kFileOpenFailure = "File Open Failure.";

// Reads the file as text (a CR before an LF is dropped, a Ctrl-Z byte ends
// it) up to the first five characters of its first non-blank line; leading
// tab, LF, VT, FF, CR and space are blank, no byte at or above 0x80 is.
// Ok when that line begins with "<?xml". A failure is kNotXml (cause: "the
// first non-blank line is no "<?xml"") or kUnreadable, told as "File Open
// Failure." with the cause ("open: No such file or directory", "read:
// Input/output error", "not a regular file"). Streams through a fixed
// buffer: constant memory whatever the file. Any thread.
Status CheckXmlFile(const std::string& path);

// The same over a file already open, read from where it stands.
Status CheckXmlStream(SequentialFile& file);

// The same over bytes held in memory: ok or kNotXml.
Status CheckXmlText(std::string_view bytes);

}  // namespace hj5

#endif  // HJ5_XMLCHECK_XML_FILE_CHECK_H_
