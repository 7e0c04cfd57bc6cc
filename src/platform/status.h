#ifndef HJ5_PLATFORM_STATUS_H_
#define HJ5_PLATFORM_STATUS_H_

#include <string>
#include <utility>

namespace hj5 {

// How an operation ended: ok, or a failure that carries
//   - its code: from an adapter, the row of its client's error table
//     (http_code, ftp_code); above them, what the layer that made it
//     documents (a reply code, a check's code);
//   - the operator's text, once a layer has one ("Communication
//     Error(Connection Error)"); empty as the adapters give it;
//   - its cause, for a maintainer: the system's error text, the library's
//     message, the peer's last reply. Never shown in a box.
// A value; any thread.
class [[nodiscard]] Status {
 public:
  // Ok.
  Status() = default;

  // A failure without an operator's text yet.
  static Status Failure(int code, std::string cause) {
    return Failure(code, std::string(), std::move(cause));
  }
  static Status Failure(int code, std::string text, std::string cause) {
    Status status;
    status.failed_ = true;
    status.code_ = code;
    status.text_ = std::move(text);
    status.cause_ = std::move(cause);
    return status;
  }

  bool ok() const { return !failed_; }
  int code() const { return code_; }
  const std::string& text() const { return text_; }
  const std::string& cause() const { return cause_; }

  // The same failure, as the operator is told it.
  Status Told(std::string text) const {
    Status told = *this;
    told.text_ = std::move(text);
    return told;
  }

  friend bool operator==(const Status&, const Status&) = default;

 private:
  bool failed_ = false;
  int code_ = 0;
  std::string text_;
  std::string cause_;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_STATUS_H_
