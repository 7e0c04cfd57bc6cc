// Checks the streaming XML check against a plain reading of the rule: the
// text (a CR before an LF dropped, Ctrl-Z ending it) split into lines, the
// first line with anything but blanks, its first five characters after the
// blanks compared with "<?xml".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xmlcheck/xml_file_check.h"

namespace {

bool Blank(char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
         c == ' ';
}

bool Reference(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\x1a') break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
      continue;
    text += bytes[i];
  }
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::size_t first = 0;
    while (first < line.size() && Blank(line[first])) ++first;
    if (first < line.size()) return line.substr(first, 5) == "<?xml";
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const bool accepted = hj5::CheckXmlText(bytes).ok();
  if (accepted != Reference(bytes)) std::abort();
  return 0;
}
