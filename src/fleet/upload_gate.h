#ifndef HJ5_FLEET_UPLOAD_GATE_H_
#define HJ5_FLEET_UPLOAD_GATE_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace hj5::fleet {

// At most `limit` uploads at a time over every device of a run (a site's
// uplink is shared; the devices' waits are not).
// Threading: any thread.
class UploadGate {
 public:
  explicit UploadGate(std::size_t limit) : limit_(limit) {}
  UploadGate(const UploadGate&) = delete;
  UploadGate& operator=(const UploadGate&) = delete;

  // Waits for a place. False, without one, once `stopped` holds: it is
  // looked at whenever Wake() is called.
  bool Enter(const std::function<bool()>& stopped) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return inside_ < limit_ || stopped(); });
    if (stopped()) return false;
    ++inside_;
    return true;
  }

  void Leave() {
    {
      std::lock_guard lock(mutex_);
      --inside_;
    }
    changed_.notify_all();
  }

  // A stop came: the waiters look at their flags.
  void Wake() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
  }

 private:
  const std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t inside_ = 0;  // guarded by mutex_
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_UPLOAD_GATE_H_
