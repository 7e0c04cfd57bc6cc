// Uploads one file once with CurlFtpClient and prints the code and the time:
//   hj5_ftp_upload_once HOST PORT USER PASSWORD LOCAL REMOTE
//   code=0 bytes=1073741824 seconds=2.345 mib_per_s=436.6
// Only loopback hosts are accepted. Exit status 0 when the code is 0.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/curl_ftp_client.h"

namespace {

bool IsLoopback(const std::string& host) {
  return host == "127.0.0.1" || host == "::1" || host == "localhost";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 || !IsLoopback(argv[1])) {
    std::fprintf(stderr,
                 "usage: %s 127.0.0.1|::1 PORT USER PASSWORD LOCAL REMOTE\n",
                 argv[0]);
    return 2;
  }
  hj5::FtpUpload upload;
  upload.host = argv[1];
  upload.port = static_cast<std::uint16_t>(std::atoi(argv[2]));
  upload.user = argv[3];
  upload.password = argv[4];
  upload.local_path = argv[5];
  upload.remote_path = argv[6];
  std::error_code error;
  const auto bytes = std::filesystem::file_size(upload.local_path, error);

  hj5::CurlFtpClient client;
  const auto start = std::chrono::steady_clock::now();
  const int code = client.Send(upload).code();
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;

  const double seconds = took.count();
  const double mib = error ? 0.0 : static_cast<double>(bytes) / (1 << 20);
  std::printf("code=%d bytes=%llu seconds=%.3f mib_per_s=%.1f\n", code,
              error ? 0ULL : static_cast<unsigned long long>(bytes), seconds,
              seconds > 0 ? mib / seconds : 0.0);
  return code == 0 ? 0 : 1;
}
