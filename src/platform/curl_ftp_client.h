#ifndef HJ5_PLATFORM_CURL_FTP_CLIENT_H_
#define HJ5_PLATFORM_CURL_FTP_CLIENT_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/ftp_client.h"
#include "platform/sequential_file.h"

namespace hj5 {

// The time limits of one upload. The defaults make a stalled server fail in
// about 20 seconds; tests shorten them.
struct CurlFtpLimits {
  // Until the server has accepted the login: name lookup, TCP connect,
  // greeting, USER and PASS (libcurl counts them all as connecting).
  std::chrono::milliseconds connect_timeout{10000};
  // For every reply of the server, including the one after the last byte
  // (libcurl counts whole seconds; less than one second counts as one).
  std::chrono::seconds server_response_timeout{15};
  // The upload fails when it moves fewer than low_speed_limit bytes per
  // second for low_speed_time.
  long low_speed_limit = 1;
  std::chrono::seconds low_speed_time{20};
};

// The FTP upload on libcurl: passive mode (EPSV, then PASV), binary, the
// remote path sent to STOR unchanged (no CWD), credentials only in USER and
// PASS.
//
// libcurl is initialised for the whole process by the first constructor
// (std::call_once) and never cleaned up; construct the first client before
// other threads start using libcurl.
class CurlFtpClient final : public FtpClient {
 public:
  explicit CurlFtpClient(CurlFtpLimits limits = {});

  // Stores upload.local_path under upload.remote_path on upload.host:port.
  // Ok when the server confirmed the store with 226 or 250 (and, as
  // upload.verify asks, the stored file read back on the same connection
  // is the file sent: its SIZE, or its bytes by RETR), else a failure
  // whose code is
  //   -1  refused before any traffic: empty host, port 0, a byte below 0x20
  //       or 0x7F in user or password, a byte below 0x20 in the remote path,
  //       an empty remote path or one ending in "/", a local file that
  //       cannot be opened for reading or is not a regular file;
  //   -2 .. -6  as FtpResultCode below;
  //   kVerify  the read-back found another size or other bytes, or the
  //            server tells no size;
  // and whose cause reads e.g.
  //   curl 67: Access denied: 530; last reply "530 Login incorrect."
  //   local file: open: No such file or directory
  //   user contains a control byte
  //   cancelled
  // The server's text is cut to one line of at most 160 bytes, its control
  // bytes shown as '?', the password shown as "***" wherever it appears.
  // Blocks the calling thread; the limits bound it.
  Status Send(const FtpUpload& upload) override;

  // Makes the upload in progress fail with -3 within about a second, and
  // every later Send() fail so at once. Never blocks; any thread.
  void Cancel() override;

  // What libcurl counted as uploaded in the upload in progress or the last.
  std::uint64_t BytesSent() const override { return bytes_sent_.load(); }

  struct Transfer;

 private:
  // One transfer of the open file over a fresh easy handle.
  Status Upload(const FtpUpload& upload, SequentialFile& file);

  // libcurl's end of a transfer (`result` a CURLcode, `reply` the server's
  // last reply code) as the upload's failure, or ok.
  Status Ended(int result, long reply, const Transfer& transfer,
               const FtpUpload& upload) const;

  // The read-back of upload.verify on the easy handle `easy` (a CURL*) that
  // stored the file of `size` bytes: ok, or a kVerify failure whose cause
  // says what differs.
  Status Verify(void* easy, const FtpUpload& upload, std::uint64_t size,
                Transfer& transfer);
  Status VerifySize(void* easy, const FtpUpload& upload, std::uint64_t size,
                    Transfer& transfer);
  Status VerifyContent(void* easy, const FtpUpload& upload, std::uint64_t size,
                       Transfer& transfer);

  const CurlFtpLimits limits_;
  std::atomic<bool> cancelled_{false};
  std::atomic<std::uint64_t> bytes_sent_{0};
};

// How far an upload came before it ended.
enum class FtpPhase {
  kSetup,     // connecting, logging in, preparing the data connection
  kTransfer,  // STOR accepted: file data flows, or the final reply is due
};

// Turns libcurl's result into the client's code; one place for the whole
// table, see the .cc. curl_code is a CURLcode, last_reply the last reply code
// of the server (CURLINFO_RESPONSE_CODE, 0 when none came).
int FtpResultCode(int curl_code, long last_reply, FtpPhase phase);

}  // namespace hj5

#endif  // HJ5_PLATFORM_CURL_FTP_CLIENT_H_
