#ifndef HJ5_PLATFORM_LOOKUP_SHARE_H_
#define HJ5_PLATFORM_LOOKUP_SHARE_H_

#include <memory>
#include <mutex>
#include <utility>

#include "platform/name_lookup.h"

namespace hj5 {

// What a system lookup shares between its PendingLookup and the thread that
// answers it (glibc's, or the system thread pool's): the caller's `done`.
// Each side holds a share, so the memory outlives whichever lets go last.
struct LookupShare {
  explicit LookupShare(NameLookup::Done done_in) : done(std::move(done_in)) {}

  // Calls `done` unless the lookup was abandoned; the mutex makes
  // abandoning wait for a call already under way, so none comes after it.
  void Deliver(LookupResult result) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!done) return;
    NameLookup::Done call = std::move(done);
    done = nullptr;
    call(std::move(result));
  }

  std::mutex mutex;
  NameLookup::Done done;  // guarded by mutex; empty once called or abandoned
};

// The caller's handle: destroying it abandons the lookup.
class SharedPendingLookup final : public PendingLookup {
 public:
  explicit SharedPendingLookup(std::shared_ptr<LookupShare> share)
      : share_(std::move(share)) {}

  // Takes `done` out under the mutex and releases it after.
  ~SharedPendingLookup() override {
    NameLookup::Done abandoned;
    std::lock_guard<std::mutex> lock(share_->mutex);
    abandoned.swap(share_->done);
  }

 private:
  std::shared_ptr<LookupShare> share_;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_LOOKUP_SHARE_H_
