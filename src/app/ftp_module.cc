// The module libhj5-xml-update-ftp.so: the libcurl FTP client, loaded by
// LazyFtpClient on the tool's first upload.

#include <string_view>

#include "app/lazy_ftp_client.h"
#include "platform/curl_ftp_client.h"

static_assert(std::string_view(hj5::kFtpModuleFactory) == "hj5_new_ftp_client");

extern "C" __attribute__((visibility("default"))) hj5::FtpClient*
hj5_new_ftp_client() {
  return new hj5::CurlFtpClient();
}
