#ifndef HJ5_FLEET_QUEUED_OBSERVER_H_
#define HJ5_FLEET_QUEUED_OBSERVER_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "fleet/observer.h"

namespace hj5::fleet {

// Puts an observer behind a queue that a thread of its own drains, so that
// a writer whose reader stalls (a pipe nobody reads, Ctrl-S in a terminal)
// never holds a device, the engine or the signal watch: every call returns
// at once. While more than `bound` calls wait, the ones an operator can
// miss (progress, restart ticks, upload byte counts) are dropped and
// counted, and the target is told how many (Dropped) before the next call
// that goes through; the operator's texts and every device's end are kept.
//
// Threading: as RunObserver; the target is called on the queue's thread
// alone, one call at a time, in the order the calls came.
class QueuedObserver final : public RunObserver {
 public:
  static constexpr std::size_t kDefaultBound = 4096;

  explicit QueuedObserver(RunObserver& target,
                          std::size_t bound = kDefaultBound);
  // Lets the queue's thread write what is left, then joins it. A target
  // that never returns (its reader gone for good) would hold this: when
  // Drain() said false, end the process without destroying the queue.
  ~QueuedObserver() override;

  // Waits up to `limit` until every call so far has reached the target.
  bool Drain(std::chrono::milliseconds limit);

  void RunStarted(const Plan& plan, WallTime at) override;
  void DeviceStarted(std::size_t index) override;
  void DeviceEvent(std::size_t index, const Event& event) override;
  void DeviceEnded(std::size_t index, const DeviceOutcome& outcome) override;
  void Progressed(const Progress& progress) override;
  void Halted(const Halt& halt) override;
  void WaitingForWindow() override;
  void Dropped(std::size_t events) override;
  void RunEnded(const RunReport& report, int exit_status) override;

 private:
  using Call = std::function<void(RunObserver&)>;
  void Push(Call call, bool droppable);
  void Work();

  RunObserver& target_;
  const std::size_t bound_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Call> calls_;   // guarded by mutex_
  std::size_t unsent_ = 0;   // guarded: calls taken, not yet returned
  std::size_t dropped_ = 0;  // guarded: not yet told
  bool closing_ = false;     // guarded
  bool idle_ = false;        // guarded: the queue's thread waits
  std::thread thread_;
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_QUEUED_OBSERVER_H_
