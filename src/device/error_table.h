#ifndef HJ5_DEVICE_ERROR_TABLE_H_
#define HJ5_DEVICE_ERROR_TABLE_H_

#include <cstdint>
#include <span>
#include <string>

namespace hj5 {

// One row of a client's error table: a return code and its message.
struct ErrorRow {
  std::int32_t code;
  const char* message;
};

// A fixed table of a client library's return codes, searched from the first
// row; the first row with an equal code wins.
class ErrorTable {
 public:
  static constexpr const char* kUnknown = "Return Value Unknown";

  constexpr explicit ErrorTable(std::span<const ErrorRow> rows) : rows_(rows) {}

  // The message of the first row whose code equals `code`, or kUnknown.
  std::string Lookup(std::int32_t code) const;

 private:
  std::span<const ErrorRow> rows_;
};

// The HTTP client's table (9 rows; there is no row for -9).
const ErrorTable& HttpErrorTable();

// The FTP client's table (6 rows).
const ErrorTable& FtpErrorTable();

// The message of the HTTP client table for `code`, or "Return Value Unknown".
std::string HttpErrorText(std::int32_t code);

// The message of the FTP client table for `code`, or "Return Value Unknown".
std::string FtpErrorText(std::int32_t code);

}  // namespace hj5

#endif  // HJ5_DEVICE_ERROR_TABLE_H_
