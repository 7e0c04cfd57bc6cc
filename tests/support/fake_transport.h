#ifndef HJ5_TESTS_SUPPORT_FAKE_TRANSPORT_H_
#define HJ5_TESTS_SUPPORT_FAKE_TRANSPORT_H_

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/http_transport.h"
#include "support/fake_clock.h"
#include "support/transcript.h"

namespace hj5::test {

// One scripted answer of the device.
struct FakeReply {
  int code = 0;              // the transport's result
  std::string reply;         // the reply text when code is 0
  std::int64_t cost_ms = 0;  // virtual time the exchange takes
  std::string cause{};       // the failure's cause when code is not 0
};

// The catalogue name of a request's command ("QueryDevice", "FtpOn", ...,
// "Probe"), or "Unknown".
std::string CommandNameOf(std::string_view request);

// A device that answers from a script and records every command as
// "send <name> at <virtual seconds>". Unscripted commands succeed: the
// identity query answers with the parameters "user9=HJ5M", the rest with
// "HJ5_Ret(0)".
class FakeTransport final : public HttpTransport {
 public:
  FakeTransport(Transcript& transcript, FakeClock& clock)
      : transcript_(transcript), clock_(clock) {}

  Status Exchange(const std::string& address, std::uint16_t port,
                  std::string_view request, std::string* reply,
                  std::uint16_t limit_seconds) override;
  void Cancel() override { cancelled_ = true; }

  // Every later send of `command` gets `reply`.
  void Always(const std::string& command, FakeReply reply);
  // The next send of `command` gets `reply`, then the script goes on.
  void Once(const std::string& command, FakeReply reply);

  // The raw requests received, in order.
  std::vector<std::string> requests;
  std::string last_address;
  std::uint16_t last_port = 0;
  std::uint16_t last_limit = 0;

 private:
  FakeReply Answer(const std::string& command);

  Transcript& transcript_;
  FakeClock& clock_;
  std::map<std::string, std::deque<FakeReply>> once_;
  std::map<std::string, FakeReply> always_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_FAKE_TRANSPORT_H_
