#include "fleet/queued_observer.h"

namespace hj5::fleet {

QueuedObserver::QueuedObserver(RunObserver& target, std::size_t bound)
    : target_(target), bound_(bound), thread_(&QueuedObserver::Work, this) {}

QueuedObserver::~QueuedObserver() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void QueuedObserver::Push(Call call, bool droppable) {
  {
    std::lock_guard lock(mutex_);
    if (droppable && calls_.size() >= bound_) {
      ++dropped_;
      return;
    }
    if (dropped_ > 0) {
      calls_.push_back(
          [count = dropped_](RunObserver& target) { target.Dropped(count); });
      dropped_ = 0;
    }
    calls_.push_back(std::move(call));
    // The queue's thread takes every call waiting when it wakes: it is
    // woken only when it sleeps.
    if (!idle_) return;
  }
  changed_.notify_all();
}

void QueuedObserver::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    idle_ = true;
    changed_.notify_all();  // a Drain() may wait for this
    changed_.wait(lock, [this] { return closing_ || !calls_.empty(); });
    idle_ = false;
    if (calls_.empty()) return;  // closing, and everything written
    std::deque<Call> taken;
    taken.swap(calls_);
    unsent_ = taken.size();
    lock.unlock();
    for (Call& call : taken) call(target_);
    lock.lock();
    unsent_ = 0;
  }
}

bool QueuedObserver::Drain(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit,
                           [this] { return calls_.empty() && unsent_ == 0; });
}

void QueuedObserver::RunStarted(const Plan& plan, WallTime at) {
  Push([&plan, at](RunObserver& t) { t.RunStarted(plan, at); }, false);
}

void QueuedObserver::DeviceStarted(std::size_t index) {
  Push([index](RunObserver& t) { t.DeviceStarted(index); }, false);
}

void QueuedObserver::DeviceEvent(std::size_t index, const Event& event) {
  Push([index, event](RunObserver& t) { t.DeviceEvent(index, event); },
       event.Droppable());
}

void QueuedObserver::DeviceEnded(std::size_t index,
                                 const DeviceOutcome& outcome) {
  Push([index, outcome](RunObserver& t) { t.DeviceEnded(index, outcome); },
       false);
}

void QueuedObserver::Progressed(const Progress& progress) {
  Push([progress](RunObserver& t) { t.Progressed(progress); }, true);
}

void QueuedObserver::Halted(const Halt& halt) {
  Push([halt](RunObserver& t) { t.Halted(halt); }, false);
}

void QueuedObserver::WaitingForWindow() {
  Push([](RunObserver& t) { t.WaitingForWindow(); }, false);
}

void QueuedObserver::Dropped(std::size_t events) {
  Push([events](RunObserver& t) { t.Dropped(events); }, false);
}

void QueuedObserver::RunEnded(const RunReport& report, int exit_status) {
  Push([report,
        exit_status](RunObserver& t) { t.RunEnded(report, exit_status); },
       false);
}

}  // namespace hj5::fleet
