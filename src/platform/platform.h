#ifndef HJ5_PLATFORM_PLATFORM_H_
#define HJ5_PLATFORM_PLATFORM_H_

#include <cstdint>

#include "platform/clock.h"
#include "platform/ftp_client.h"
#include "platform/http_transport.h"

namespace hj5 {

// The adapters an update reaches the device and time through. A front end
// builds them once (the product: the Asio transport, the libcurl or WinINet
// FTP client and the steady clock; tests: fakes) and hands them in; they
// must outlive every runner that uses them.
struct Platform {
  HttpTransport& transport;
  FtpClient& ftp;
  Clock& clock;
  // The limit of one exchange in seconds (20 in the product).
  std::uint16_t limit_seconds = HttpTransport::kDefaultLimitSeconds;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_PLATFORM_H_
