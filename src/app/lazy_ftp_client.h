#ifndef HJ5_APP_LAZY_FTP_CLIENT_H_
#define HJ5_APP_LAZY_FTP_CLIENT_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ftp_client.h"

namespace hj5 {

// The name of the function a module of FTP clients exports: it returns a new
// client owned by the caller.
inline constexpr char kFtpModuleFactory[] = "hj5_new_ftp_client";

// An FTP client that loads its implementation on the first upload. The
// libcurl client lives in a module of its own (libhj5-xml-update-ftp.so), so
// that the tool does not load libcurl and its dependencies (about 5 ms and
// 6 MiB) before the operator's first upload. The module stays loaded for the
// rest of the process.
//
// Threading: Send() on one thread at a time (the UI thread in the product);
// Cancel() from any thread.
class LazyFtpClient final : public FtpClient {
 public:
  // `module_paths`: where to look for the module, in this order.
  explicit LazyFtpClient(std::vector<std::string> module_paths);
  ~LazyFtpClient() override;

  // Loads the module on the first call, then uploads through it. Returns
  // kArgument when no module could be loaded, kSendFile once cancelled.
  int Send(const FtpUpload& upload) override;

  // Cancels the upload in progress and every later one, as FtpClient says.
  void Cancel() override;

 private:
  // The loaded client, or null when no module could be loaded or the client
  // is cancelled. Loads it on the first call.
  FtpClient* Client();

  const std::vector<std::string> module_paths_;
  std::mutex mutex_;
  bool cancelled_ = false;             // guarded by mutex_
  bool tried_ = false;                 // guarded by mutex_
  std::unique_ptr<FtpClient> client_;  // guarded by mutex_
};

}  // namespace hj5

#endif  // HJ5_APP_LAZY_FTP_CLIENT_H_
