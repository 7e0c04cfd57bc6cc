#ifndef HJ5_PLATFORM_WININET_FTP_CLIENT_H_
#define HJ5_PLATFORM_WININET_FTP_CLIENT_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ftp_client.h"

namespace hj5 {

class SequentialFile;

// The time limits of one upload through WinINet, and the size of a chunk.
struct WinInetFtpLimits {
  std::uint32_t connect_ms = 10000;  // connection and login
  std::uint32_t send_ms = 20000;     // each send
  std::uint32_t receive_ms = 15000;  // each reply of the server
  std::size_t chunk_bytes = 64 * 1024;
};

// How far an upload came before it ended.
enum class WinInetStage {
  kConnect,   // InternetOpen, InternetConnect: connection and login
  kOpenFile,  // FtpOpenFile: TYPE I, PASV, STOR
  kTransfer,  // InternetWriteFile: file data
  kFinish,    // closing the file: the server's final reply
};

// The FTP upload on Windows' own client: passive mode, binary, the remote
// path sent to STOR as given (no CWD), the file written in chunks so that a
// Cancel() is seen between chunks and the bytes sent can be told. The host,
// user, password and remote path are bytes of the ANSI code page and go to
// WinINet's ANSI calls unchanged; the local path is UTF-8 and is opened as
// UTF-16.
//
// Threading: Send() on one thread; Cancel() and BytesSent() from any
// thread.
class WinInetFtpClient final : public FtpClient {
 public:
  explicit WinInetFtpClient(WinInetFtpLimits limits = {});
  ~WinInetFtpClient() override;

  // Ok when the server confirmed the store, else a failure whose code is -1
  // (refused before any traffic: empty host, port 0, a control byte in
  // user, password or remote path, a local file that cannot be read), or
  // -2 .. -6 as WinInetResultCode says, and whose cause names the stage,
  // WinINet's error and the server's last reply.
  Status Send(const FtpUpload& upload) override;

  // Makes the upload in progress end with -3 (between two chunks, or by
  // closing WinINet's handles, which ends a blocked connect), and every
  // later Send() return -3 at once. Never blocks.
  void Cancel() override;

  // The bytes of the file sent so far in the last upload.
  std::uint64_t BytesSent() const override { return bytes_sent_.load(); }

 private:
  struct HandleCloser {
    void operator()(void* handle) const;
  };
  using Handle = std::unique_ptr<void, HandleCloser>;

  Handle Connect(const FtpUpload& upload);
  Status Transfer(const FtpUpload& upload, void* connection,
                  SequentialFile& file);
  // What upload.verify reads back, on the upload's connection, of the
  // stored file of `size` bytes.
  Status Verify(const FtpUpload& upload, void* connection, std::uint64_t size);
  Status VerifySize(const FtpUpload& upload, void* connection,
                    std::uint64_t size);
  Status VerifyContent(const FtpUpload& upload, void* connection,
                       std::uint64_t size);
  // A failed WinINet call in `stage`: its code and cause.
  Status Failed(const FtpUpload& upload, WinInetStage stage);

  const WinInetFtpLimits limits_;
  std::atomic<bool> cancelled_{false};
  std::atomic<std::uint64_t> bytes_sent_{0};
  std::mutex mutex_;
  void* session_ = nullptr;  // guarded by mutex_: the upload's root handle
  bool connecting_ = false;  // guarded by mutex_
};

// WinINet's error → the client's code; one place for the whole table, see
// the .cc. `error` is GetLastError() after the failing call, `reply` the
// code of the server's last reply (0 when none came).
int WinInetResultCode(unsigned long error, int reply, WinInetStage stage);

}  // namespace hj5

#endif  // HJ5_PLATFORM_WININET_FTP_CLIENT_H_
