#ifndef HJ5_FLEET_DEVICE_RUN_H_
#define HJ5_FLEET_DEVICE_RUN_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "fleet/event.h"
#include "fleet/fleet_clock.h"
#include "fleet/observer.h"
#include "fleet/outcome.h"
#include "fleet/plan.h"
#include "fleet/upload_gate.h"
#include "platform/asio_http_transport.h"

namespace hj5::fleet {

// One device's run as the engine drives it: the update (or the check, or
// the repair), and after a stop that restores, the restore.
// Threading: the engine's thread.
class DeviceRun {
 public:
  DeviceRun() = default;
  DeviceRun(const DeviceRun&) = delete;
  DeviceRun& operator=(const DeviceRun&) = delete;
  virtual ~DeviceRun() = default;

  // False when no worker could be started.
  virtual bool Start() = 0;
  virtual bool Ended() const = 0;
  // Counts the restart counter on, tells the upload's progress.
  virtual void Tick(SteadyTime now) = 0;
  virtual DeviceView View() const = 0;

  // Interrupts every wait of whatever runs now (an upload is aborted) and
  // returns at once; Join() then waits for it to end. Interrupting every
  // device first and joining them after stops a fleet at once without a
  // thread for each.
  virtual void Interrupt() = 0;
  virtual void Join() = 0;

  // After Join(): when the device may be left with FTP on or user9
  // "UPDATE", starts the restore (the failure tail, after waiting for a
  // device that may still be restarting). True when one started.
  virtual bool Recover() = 0;

  // What it handed back; once Ended().
  virtual DeviceLegs Legs() const = 0;
};

// How the engine gets a device's run.
class DeviceRuns {
 public:
  // Every event of the device goes to the sink, from its worker.
  using Sink = std::function<void(const Event&)>;

  DeviceRuns() = default;
  DeviceRuns(const DeviceRuns&) = delete;
  DeviceRuns& operator=(const DeviceRuns&) = delete;
  virtual ~DeviceRuns() = default;

  virtual std::unique_ptr<DeviceRun> Make(std::size_t index, Sink sink) = 0;
};

// The product's: each device with adapters of its own (the transport, the
// FTP client, the clock), a FleetForm and an UpdateRunner; the uploads
// share the plan's snapshot and an upload gate of plan.max_uploads places.
class ProductDeviceRuns final : public DeviceRuns {
 public:
  // `plan` and `clock` outlive this object, which outlives every run made.
  ProductDeviceRuns(const Plan& plan, FleetClock& clock);

  std::unique_ptr<DeviceRun> Make(std::size_t index, Sink sink) override;

 private:
  const Plan& plan_;
  FleetClock& clock_;
  std::optional<UploadGate> gate_;
  // Every device's exchanges on one loop: a running device holds no
  // descriptor but the connection of an exchange in progress.
  AsioEventLoop loop_;
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_DEVICE_RUN_H_
