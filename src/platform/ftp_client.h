#ifndef HJ5_PLATFORM_FTP_CLIENT_H_
#define HJ5_PLATFORM_FTP_CLIENT_H_

#include <cstdint>
#include <string>

#include "platform/file_bytes.h"
#include "platform/status.h"

namespace hj5 {

// Result codes of an upload. 0 is success; the rest name the row of the FTP
// client error table that the operator is shown.
namespace ftp_code {
inline constexpr int kOk = 0;
inline constexpr int kArgument = -1;       // bad argument, unreadable file
inline constexpr int kConnection = -2;     // no connection, login refused
inline constexpr int kSendFile = -3;       // connection lost or stalled
inline constexpr int kServerFile = -4;     // the server refused to store
inline constexpr int kCharConvert = -5;    // a name cannot be converted
inline constexpr int kMemoryReserve = -6;  // out of memory
// The stored file is not the file sent, or its size cannot be read back
// (FtpVerify). No client library returns it: it is the tool's own.
inline constexpr int kVerify = -20;
}  // namespace ftp_code

// What is read back of the stored file, in the same session, before the
// upload counts as done.
enum class FtpVerify {
  kNone,
  kSize,     // SIZE: the stored file has as many bytes as the local one
  kContent,  // RETR: the stored file has the local file's bytes
};

// One upload: log in to host:port as user and store the file, unchanged
// byte for byte, under remote_path. The file is `content` when given (the
// bytes a run read once; local_path then only names them), else the file
// at local_path, opened for the upload.
struct FtpUpload {
  std::string host;
  std::string user;
  std::string password;
  std::uint16_t port = 21;
  std::string local_path;
  const FileBytes* content = nullptr;  // outlives the upload
  std::string remote_path;  // e.g. "C:\www\update.xml", sent to STOR as is
  FtpVerify verify = FtpVerify::kNone;
};

// The FTP upload to the device.
//
// Threading: Send() runs on the calling thread (the UI thread in the forms,
// the worker on the command line) and blocks until the upload has ended;
// its own time limits bound it. Cancel() and BytesSent() may be called from
// any thread.
class FtpClient {
 public:
  FtpClient() = default;
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;
  virtual ~FtpClient() = default;

  // Stores the file. Ok when the server confirmed the store; else a failure
  // whose code is a negative code of ftp_code and whose cause says why in
  // one short line for a maintainer's log (what the library said, the
  // server's last reply, the system's error text), never holding the
  // password.
  virtual Status Send(const FtpUpload& upload) = 0;

  // Aborts the upload in progress, if any (it returns kSendFile), and makes
  // every later upload return kSendFile at once. Never blocks.
  virtual void Cancel() = 0;

  // The bytes of the file the server has been sent so far in the upload in
  // progress (or the last one); 0 before the first. Any thread; a client
  // that cannot tell says 0.
  virtual std::uint64_t BytesSent() const { return 0; }
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_FTP_CLIENT_H_
