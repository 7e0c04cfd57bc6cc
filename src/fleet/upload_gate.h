#ifndef HJ5_FLEET_UPLOAD_GATE_H_
#define HJ5_FLEET_UPLOAD_GATE_H_

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>

namespace hj5::fleet {

// At most `limit` uploads at a time over every device of a run (a site's
// uplink is shared; the devices' waits are not; and the descriptors of a
// process are counted). Waiters get their places in the order they came,
// each woken alone: thousands of devices may reach their uploads together,
// and waking all of them for every place would cost more than the uploads.
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
    if (inside_ < limit_ && queued_ == 0) {
      ++inside_;
      return true;
    }
    waiting_.emplace_back();
    ++queued_;
    const auto me = std::prev(waiting_.end());
    me->woken.wait(lock, [&] { return me->granted || stopped(); });
    const bool granted = me->granted;  // a place handed over by Leave()
    if (!granted) --queued_;
    waiting_.erase(me);
    return granted;
  }

  // A place is free: handed to the first waiter, if any.
  void Leave() {
    std::lock_guard lock(mutex_);
    for (Waiter& waiter : waiting_) {
      if (waiter.granted) continue;
      waiter.granted = true;
      --queued_;
      waiter.woken.notify_one();
      return;
    }
    --inside_;
  }

  // A stop came: the waiters look at their flags.
  void Wake() {
    std::lock_guard lock(mutex_);
    for (Waiter& waiter : waiting_) waiter.woken.notify_one();
  }

 private:
  struct Waiter {
    std::condition_variable woken;
    bool granted = false;  // guarded by mutex_
  };

  const std::size_t limit_;
  std::mutex mutex_;
  std::size_t inside_ = 0;     // guarded: places taken, handed ones too
  std::size_t queued_ = 0;     // guarded: waiters not yet granted one
  std::list<Waiter> waiting_;  // guarded
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_UPLOAD_GATE_H_
