#ifndef HJ5_DEVICE_DEVICE_SESSION_H_
#define HJ5_DEVICE_DEVICE_SESSION_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace hj5 {

// The connection values of one update, copied from the form by the click
// before the worker starts and read by the worker. Texts are bytes in the
// local 8-bit encoding; the limits are in bytes.
struct DeviceSession {
  static constexpr std::size_t kMaxAddressBytes = 72;
  static constexpr std::size_t kMaxCredentialBytes = 15;
  static constexpr const char* kDefaultDeviceCode = "HJ5M";

  std::string address;
  std::uint16_t ftp_port = 21;
  std::uint16_t http_port = 80;
  std::string login_id;
  std::string password;
  std::string device_code = kDefaultDeviceCode;
};

}  // namespace hj5

#endif  // HJ5_DEVICE_DEVICE_SESSION_H_
