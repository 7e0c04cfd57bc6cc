#ifndef HJ5_APP_PRODUCT_PLATFORM_H_
#define HJ5_APP_PRODUCT_PLATFORM_H_

#include "platform/asio_http_transport.h"
#ifdef _WIN32
#include "platform/wininet_ftp_client.h"
#else
#include "platform/curl_ftp_client.h"
#endif
#include "platform/platform.h"
#include "platform/steady_clock.h"

namespace hj5 {

// The product's adapters, built once by a front end and handed to its
// runner: the Asio transport with the device's reply framing, the FTP client
// (libcurl on Linux, WinINet on Windows) and the steady clock. One set serves
// one runner: a stopped runner leaves them cancelled for good.
class ProductPlatform {
 public:
  ProductPlatform();
  ProductPlatform(const ProductPlatform&) = delete;
  ProductPlatform& operator=(const ProductPlatform&) = delete;

  const Platform& platform() const { return platform_; }

 private:
  AsioHttpTransport transport_;
#ifdef _WIN32
  WinInetFtpClient ftp_;
#else
  CurlFtpClient ftp_;
#endif
  SteadyClock clock_;
  const Platform platform_{transport_, ftp_, clock_};
};

}  // namespace hj5

#endif  // HJ5_APP_PRODUCT_PLATFORM_H_
