// Judges arbitrary device replies: the reply code, the exchange's verdict
// and the identity check must agree with each other and never read past the
// reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/command_exchange.h"
#include "device/identity_check.h"

namespace {

using namespace hj5;

class ReplyTransport final : public HttpTransport {
 public:
  explicit ReplyTransport(std::string reply) : reply_(std::move(reply)) {}
  Status Exchange(const std::string&, std::uint16_t, std::string_view,
                  std::string* reply, std::uint16_t) override {
    *reply = reply_.substr(0, kReplyCapacity);
    return Status();
  }
  void Cancel() override {}

 private:
  std::string reply_;
};

class NullFtp final : public FtpClient {
 public:
  Status Send(const FtpUpload&) override {
    return Status::Failure(ftp_code::kConnection, "");
  }
  void Cancel() override {}
};

class NullClock final : public Clock {
 public:
  void SleepMs(std::uint32_t) override {}
  std::int64_t NowSeconds() override { return 0; }
  void Interrupt() override {}
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));
  const std::optional<int> code = ReplyCode(text);
  if (code) Check(text.find("HJ5_Ret(") != std::string::npos);

  ReplyTransport transport(raw);
  DeviceSession session;
  NullFtp ftp;
  NullClock clock;
  const Platform platform{transport, ftp, clock, 20};
  const DeviceLink link{platform, session};
  const bool accepted =
      ReplyFailureText(ReplyCode(text.substr(0, HttpTransport::kReplyCapacity)))
          .empty();
  const Status verdict = CommandExchange(link, "ID=a&PW=b");
  Check(verdict.ok() == accepted);
  Check(verdict.ok() == verdict.text().empty());

  const Status identity = IdentityCheck(link);
  Check(identity.ok() == identity.text().empty());
  return 0;
}
