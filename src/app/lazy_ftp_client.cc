#include "app/lazy_ftp_client.h"

#include <dlfcn.h>

#include <utility>

namespace hj5 {
namespace {

using Factory = FtpClient* (*)();

// Loads the first module of `paths` that exports the factory; its client.
std::unique_ptr<FtpClient> LoadClient(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) continue;
    auto factory = reinterpret_cast<Factory>(dlsym(module, kFtpModuleFactory));
    if (!factory) {
      dlclose(module);
      continue;
    }
    // The module is never unloaded: its library keeps process-wide state.
    return std::unique_ptr<FtpClient>(factory());
  }
  return nullptr;
}

}  // namespace

LazyFtpClient::LazyFtpClient(std::vector<std::string> module_paths)
    : module_paths_(std::move(module_paths)) {}

LazyFtpClient::~LazyFtpClient() = default;

FtpClient* LazyFtpClient::Client() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) return nullptr;
  if (!tried_) {
    tried_ = true;
    client_ = LoadClient(module_paths_);
  }
  return client_.get();
}

int LazyFtpClient::Send(const FtpUpload& upload) {
  FtpClient* client = Client();
  if (!client) {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_ ? ftp_code::kSendFile : ftp_code::kArgument;
  }
  // A Cancel() from here on reaches the client, which then fails at once.
  return client->Send(upload);
}

void LazyFtpClient::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  if (client_) client_->Cancel();
}

}  // namespace hj5
