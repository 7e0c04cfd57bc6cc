#ifndef HJ5_TESTS_SUPPORT_BLOCKING_FAKES_H_
#define HJ5_TESTS_SUPPORT_BLOCKING_FAKES_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/ftp_client.h"
#include "platform/http_transport.h"
#include "platform/name_lookup.h"

namespace hj5::test {

// Ends a wait when Stop() is called; every later wait returns at once.
class StopLatch {
 public:
  // Waits until Stop() (or `limit` as a guard against a hung test); true
  // when stopped.
  bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return stopped_; });
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
  }
  bool stopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
};

// A clock whose every sleep lasts until Interrupt().
class BlockingClock final : public Clock {
 public:
  void SleepMs(std::uint32_t) override {
    ++sleeps;
    latch_.Wait();
  }
  std::int64_t NowSeconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void Interrupt() override { latch_.Stop(); }
  bool interrupted() { return latch_.stopped(); }

  std::atomic<int> sleeps{0};

 private:
  StopLatch latch_;
};

// A device channel for the form's tests. kHold keeps every exchange until
// Cancel() and then gives kTimeout; kFail answers every exchange with
// kConnection at once; kAnswer answers every command with success, as a
// device with the code "HJ5M" would.
class BlockingTransport final : public HttpTransport {
 public:
  enum class Mode { kHold, kFail, kAnswer };

  explicit BlockingTransport(Mode mode) : mode_(mode) {}

  Status Exchange(const std::string& address, std::uint16_t, std::string_view,
                  std::string* reply, std::uint16_t) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      addresses_.push_back(address);
    }
    ++exchanges;
    reply->clear();
    if (latch_.stopped()) return Status::Failure(http_code::kTimeout, "");
    switch (mode_) {
      case Mode::kHold:
        latch_.Wait();
        return Status::Failure(http_code::kTimeout, "");
      case Mode::kFail:
        break;
      case Mode::kAnswer:
        *reply = "HTTP/1.1 200 OK\r\n\r\nuser9=HJ5M\r\nHJ5_Ret(0)";
        return Status();
    }
    return Status::Failure(http_code::kConnection, "");
  }
  void Cancel() override { latch_.Stop(); }
  bool cancelled() { return latch_.stopped(); }
  std::vector<std::string> addresses() {
    std::lock_guard<std::mutex> lock(mutex_);
    return addresses_;
  }

  std::atomic<int> exchanges{0};

 private:
  const Mode mode_;
  StopLatch latch_;
  std::mutex mutex_;
  std::vector<std::string> addresses_;
};

// A name lookup that never answers, as a resolver that hangs: the lookup is
// never sent anywhere.
class StalledLookup final : public NameLookup {
 public:
  std::unique_ptr<PendingLookup> Start(const std::string&, Done) override {
    ++started;
    return std::make_unique<PendingLookup>();
  }

  std::atomic<int> started{0};
};

// An FTP client that stores nothing and says so.
class IdleFtpClient final : public FtpClient {
 public:
  Status Send(const FtpUpload&) override {
    ++sends;
    if (cancelled_) return Status::Failure(ftp_code::kSendFile, "cancelled");
    return Status();
  }
  void Cancel() override { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

  std::atomic<int> sends{0};

 private:
  std::atomic<bool> cancelled_{false};
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_BLOCKING_FAKES_H_
