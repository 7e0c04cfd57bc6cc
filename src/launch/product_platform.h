#ifndef HJ5_LAUNCH_PRODUCT_PLATFORM_H_
#define HJ5_LAUNCH_PRODUCT_PLATFORM_H_

#include "platform/asio_http_transport.h"
#include "platform/platform.h"
#include "platform/steady_clock.h"
#ifdef _WIN32
#include "platform/wininet_ftp_client.h"
#else
#include "platform/curl_ftp_client.h"
#endif

namespace hj5 {

#ifdef _WIN32
using ProductFtpClient = WinInetFtpClient;
#else
using ProductFtpClient = CurlFtpClient;
#endif

// The product's adapters, built once by a front end and handed to its
// runner: the Asio transport with the device's reply framing, the libcurl
// (Linux) or WinINet (Windows) FTP client and the steady clock. One set serves
// one runner: a stopped runner leaves them cancelled for good.
class ProductPlatform {
 public:
  // With a loop, the transport's exchanges run on it (a fleet's devices
  // share one); it must outlive the platform.
  explicit ProductPlatform(AsioEventLoop* loop = nullptr);
  ProductPlatform(const ProductPlatform&) = delete;
  ProductPlatform& operator=(const ProductPlatform&) = delete;

  const Platform& platform() const { return platform_; }

 private:
  AsioHttpTransport transport_;
  ProductFtpClient ftp_;
  SteadyClock clock_;
  const Platform platform_{transport_, ftp_, clock_};
};

}  // namespace hj5

#endif  // HJ5_LAUNCH_PRODUCT_PLATFORM_H_
