#ifndef HJ5_PLATFORM_HTTP_TRANSPORT_H_
#define HJ5_PLATFORM_HTTP_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hj5 {

// Result codes of an exchange. 0 is success; the rest name the row of the
// HTTP client error table that the operator is shown.
namespace http_code {
inline constexpr int kOk = 0;
inline constexpr int kNetworkParameter = -1;  // empty or unresolvable address
inline constexpr int kSocket = -2;            // socket could not be created
inline constexpr int kConnection = -3;        // refused, unreachable, timed out
inline constexpr int kSending = -4;           // the request could not be sent
inline constexpr int kTimeout = -5;           // the exchange's deadline passed
inline constexpr int kReception = -6;         // reset while receiving
inline constexpr int kResponse = -7;          // closed with nothing received
}  // namespace http_code

// The raw request/reply exchange with the device.
//
// Threading: Exchange() runs on the calling thread (the worker), one exchange
// at a time per object. Cancel() may be called from any thread.
class HttpTransport {
 public:
  // The most reply bytes an exchange keeps; a longer reply is cut here.
  static constexpr std::size_t kReplyCapacity = 10239;
  // The limit the product passes, in seconds, for the whole exchange.
  static constexpr std::uint16_t kDefaultLimitSeconds = 20;

  HttpTransport() = default;
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;
  virtual ~HttpTransport() = default;

  // Connects to `address` (IPv4 or IPv6 literal, or a host name) at `port`,
  // sends `request` byte for byte and reads the reply into `*reply` (cleared
  // first; at most kReplyCapacity bytes). `limit_seconds` bounds the whole
  // exchange. Ok when a reply was received; else a failure whose code is a
  // negative code of http_code and whose cause tells a maintainer the phase
  // and the system's error text. A reply may hold NUL bytes; the caller
  // decides what they mean.
  virtual Status Exchange(const std::string& address, std::uint16_t port,
                          std::string_view request, std::string* reply,
                          std::uint16_t limit_seconds) = 0;

  // Cancels the exchange in progress, if any, and makes every later exchange
  // return kTimeout at once. Any thread; never blocks.
  virtual void Cancel() = 0;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_HTTP_TRANSPORT_H_
