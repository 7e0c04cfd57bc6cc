#ifndef HJ5_UPDATE_UPDATE_RUNNER_H_
#define HJ5_UPDATE_UPDATE_RUNNER_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "device/device_session.h"
#include "platform/platform.h"
#include "platform/status.h"
#include "update/form_ops.h"
#include "update/update_context.h"
#include "update/update_outcome.h"

namespace hj5 {

// The one owner of an update's life, shared by every front end. It holds the
// values of the update (session and chosen file), the worker thread and the
// outcome of the last update, and it has one state:
//
//   idle --Start--> running --the procedure returns--> idle
//   idle or running --Stop--> stopping (final: a stopped runner and its
//                                       adapters are never used again)
//
// Stop interrupts every wait the worker can be in (a form operation waiting
// for the UI thread, a sleep, an exchange with its name lookup, an upload),
// waits for the worker to end and joins it. No thread is ever left behind:
// the destructor stops and joins too.
//
// Threading: Start(), Stop(), the destructor and session() on the front
// end's thread (the UI thread in the forms); state() and outcome() on any
// thread; SendFirmware() on the thread that serves message 102, while an
// update runs.
class UpdateRunner {
 public:
  enum class State { kIdle, kRunning, kStopping };

  // What the worker runs; the product runs UpdateSequence.
  using Procedure = std::function<UpdateOutcome(const UpdateContext&)>;

  // How a front end waits for a stopping worker: serving its own events
  // (the worker may be waiting for the UI thread) until `ended` returns true
  // or `limit` has passed, whichever comes first.
  using Waiter = std::function<void(const std::function<bool()>& ended,
                                    std::chrono::milliseconds limit)>;

  // The most a Stop() waits in the front end's way before it joins.
  static constexpr std::chrono::milliseconds kStopWait{2000};

  // `form` and the adapters of `platform` must outlive the runner.
  UpdateRunner(FormOps& form, const Platform& platform, Procedure procedure);
  UpdateRunner(FormOps& form, const Platform& platform);
  ~UpdateRunner();

  UpdateRunner(const UpdateRunner&) = delete;
  UpdateRunner& operator=(const UpdateRunner&) = delete;

  State state() const;

  // Copies the values and starts the worker. Returns false, having started
  // nothing, unless the runner is idle or when no thread could be started.
  bool Start(const DeviceSession& session, const ChosenFile& chosen);

  // The upload of the running update (the handler of message 102).
  Status SendFirmware();

  // The first half of Stop(), for stopping many runners at once without a
  // thread for each: interrupts every wait of the worker and returns at
  // once; Stop() then joins. Any thread; never blocks.
  void Interrupt();

  // Stops for good: interrupts every wait, waits with `wait` (a plain wait
  // when empty) for at most kStopWait, and joins the worker once it has
  // ended. Returns at once when no worker was started. A Stop() made from
  // within `wait` (the front end serving a second close) is harmless.
  void Stop(const Waiter& wait = {});

  // The values of the last update started.
  const DeviceSession& session() const { return session_; }

  // How the last update ended, once its worker has ended (stopped set when
  // Stop() came before its end); nullopt before the first and while one
  // runs.
  std::optional<UpdateOutcome> outcome() const;

 private:
  void Work();
  bool Ended() const;

  FormOps& form_;
  const Platform platform_;
  const Procedure procedure_;
  DeviceSession session_;  // written only while no worker runs
  ChosenFile chosen_;      // written only while no worker runs
  const UpdateContext context_{form_, platform_, session_, chosen_};

  mutable std::mutex mutex_;
  std::condition_variable ended_changed_;
  State state_ = State::kIdle;  // guarded by mutex_
  bool ended_ = true;           // guarded by mutex_: the worker's last act
  std::optional<UpdateOutcome> outcome_;  // guarded by mutex_
  std::thread worker_;                    // the front end's thread only
};

}  // namespace hj5

#endif  // HJ5_UPDATE_UPDATE_RUNNER_H_
