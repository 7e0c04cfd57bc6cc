#include "update/update_runner.h"

#include <system_error>
#include <utility>

#include "update/firmware_send.h"
#include "update/update_sequence.h"

namespace hj5 {

UpdateRunner::UpdateRunner(FormOps& form, const Platform& platform,
                           Procedure procedure)
    : form_(form), platform_(platform), procedure_(std::move(procedure)) {}

UpdateRunner::UpdateRunner(FormOps& form, const Platform& platform)
    : UpdateRunner(form, platform, &UpdateSequence) {}

UpdateRunner::~UpdateRunner() { Stop(); }

UpdateRunner::State UpdateRunner::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool UpdateRunner::Ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

bool UpdateRunner::Start(const DeviceSession& session,
                         const ChosenFile& chosen) {
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::kIdle) return false;
  }
  // An idle runner's worker has done its last act; the join is immediate.
  if (worker_.joinable()) worker_.join();
  session_ = session;
  chosen_ = chosen;
  {
    std::lock_guard lock(mutex_);
    state_ = State::kRunning;
    ended_ = false;
    outcome_.reset();
  }
  try {
    worker_ = std::thread(&UpdateRunner::Work, this);
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex_);
    state_ = State::kIdle;
    ended_ = true;
    return false;
  }
  return true;
}

void UpdateRunner::Work() {
  UpdateOutcome outcome = procedure_(context_);
  {
    std::lock_guard lock(mutex_);
    outcome.stopped = state_ == State::kStopping;
    outcome_ = std::move(outcome);
    if (state_ == State::kRunning) state_ = State::kIdle;
    ended_ = true;
  }
  // The runner outlives this call: Stop() joins before it returns.
  ended_changed_.notify_all();
}

Status UpdateRunner::SendFirmware() { return FirmwareSend(context_); }

std::optional<UpdateOutcome> UpdateRunner::outcome() const {
  std::lock_guard lock(mutex_);
  return outcome_;
}

void UpdateRunner::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    state_ = State::kStopping;
  }
  form_.Interrupt();
  platform_.clock.Interrupt();
  platform_.transport.Cancel();
  platform_.ftp.Cancel();
}

void UpdateRunner::Stop(const Waiter& wait) {
  Interrupt();
  if (!worker_.joinable()) return;
  if (wait) wait([this] { return Ended(); }, kStopWait);
  // Every wait of the worker has been interrupted: it ends.
  std::unique_lock lock(mutex_);
  ended_changed_.wait(lock, [this] { return ended_; });
  lock.unlock();
  // A Stop() made while `wait` served the front end's events (a second
  // close) may have joined already.
  if (worker_.joinable()) worker_.join();
}

}  // namespace hj5
