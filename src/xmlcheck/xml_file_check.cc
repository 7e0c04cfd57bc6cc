#include "xmlcheck/xml_file_check.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sequential_file.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hj5 {
namespace {

enum class XmlCheckResult { kAccepted, kRefused };

constexpr std::string_view kDeclaration = "<?xml";
constexpr char kCtrlZ = '\x1a';
constexpr std::size_t kBufferBytes = 128 * 1024;

bool IsBlank(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' ||
         c == ' ';
}

// The first byte from `p` on that is not blank, or `end`.
const char* SkipBlanks(const char* p, const char* end) {
#if defined(__SSE2__)
  // Sixteen bytes at a time: blank are 9..13 (tab to CR) and space.
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i four = _mm_set1_epi8(4);
  const __m128i space = _mm_set1_epi8(' ');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i t = _mm_sub_epi8(v, nine);
    const __m128i in_range = _mm_cmpeq_epi8(_mm_min_epu8(t, four), t);
    const __m128i blank = _mm_or_si128(in_range, _mm_cmpeq_epi8(v, space));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(blank));
    if (mask != 0xFFFF) return p + __builtin_ctz(~mask);
    p += 16;
  }
#endif
  while (p < end && IsBlank(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// Follows the bytes of the file as text until the first five characters of
// its first non-blank line are known.
class DeclarationScanner {
 public:
  // Takes the next bytes; false once the answer is known.
  bool Feed(std::string_view bytes);
  // The answer, once Feed() returned false or the bytes have ended.
  XmlCheckResult Result();

 private:
  // Takes one character of the text (CR before LF already dropped).
  bool Take(char c);

  bool collecting_ = false;
  bool pending_cr_ = false;
  bool done_ = false;
  std::string prefix_;
};

bool DeclarationScanner::Feed(std::string_view bytes) {
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end && !done_) {
    if (!collecting_) {
      p = SkipBlanks(p, end);
      if (p == end) break;
      collecting_ = true;
    }
    char c = *p++;
    if (c == kCtrlZ) {
      done_ = true;  // the end of the text
      break;
    }
    if (pending_cr_) {
      pending_cr_ = false;
      if (c != '\n' && !Take('\r')) break;
    }
    if (c == '\r') {
      pending_cr_ = true;
      continue;
    }
    if (!Take(c)) break;
  }
  return !done_;
}

bool DeclarationScanner::Take(char c) {
  if (c == '\n' || prefix_.size() == kDeclaration.size()) {
    done_ = true;
    return false;
  }
  prefix_ += c;
  if (prefix_.size() == kDeclaration.size()) done_ = true;
  return !done_;
}

XmlCheckResult DeclarationScanner::Result() {
  if (!done_ && pending_cr_) Take('\r');
  return prefix_ == kDeclaration ? XmlCheckResult::kAccepted
                                 : XmlCheckResult::kRefused;
}

Status Judged(XmlCheckResult result) {
  if (result == XmlCheckResult::kAccepted) return Status();
  return Status::Failure(xml_code::kNotXml,
                         "the first non-blank line is no \"<?xml\"");
}

}  // namespace

Status CheckXmlText(std::string_view bytes) {
  DeclarationScanner scanner;
  scanner.Feed(bytes);
  return Judged(scanner.Result());
}

Status CheckXmlStream(SequentialFile& file) {
  std::vector<char> buffer(kBufferBytes);
  DeclarationScanner scanner;
  std::size_t got = 0;
  Status read;
  while ((read = file.Read(buffer.data(), buffer.size(), &got)).ok() &&
         got > 0 && scanner.Feed({buffer.data(), got})) {
  }
  if (read.ok()) return Judged(scanner.Result());
  return Status::Failure(xml_code::kUnreadable, kFileOpenFailure, read.cause());
}

Status CheckXmlFile(const std::string& path) {
  std::unique_ptr<SequentialFile> file;
  if (Status open = OpenSequentialFile(path, &file); !open.ok())
    return Status::Failure(xml_code::kUnreadable, kFileOpenFailure,
                           open.cause());
  return CheckXmlStream(*file);
}

}  // namespace hj5
