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

class NullForm final : public FormOps {
 public:
  void ShowBox(BoxKind, const std::string&) override { ++boxes; }
  void SetFieldText(FieldId, const std::string&) override {}
  std::string FieldText(FieldId) override { return {}; }
  bool FieldTextFits(FieldId) override { return true; }
  void SetUpdateEnabled(bool) override {}
  void StartRestartTimer() override {}
  void StopRestartTimer() override {}
  int SendFirmwareMessage() override { return -1; }
  std::optional<ChosenFile> ChooseFile(const FileChooserRequest&) override {
    return std::nullopt;
  }
  void Interrupt() override {}
  int boxes = 0;
};

class ReplyTransport final : public HttpTransport {
 public:
  explicit ReplyTransport(std::string reply) : reply_(std::move(reply)) {}
  int Exchange(const std::string&, std::uint16_t, std::string_view,
               std::string* reply, std::uint16_t) override {
    *reply = reply_.substr(0, kReplyCapacity);
    return 0;
  }
  void Cancel() override {}
  std::string LastCause() const override { return {}; }

 private:
  std::string reply_;
};

class NullFtp final : public FtpClient {
 public:
  int Send(const FtpUpload&) override { return ftp_code::kConnection; }
  void Cancel() override {}
  std::string LastCause() const override { return {}; }
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
  const int code = ReplyCode(text);
  if (code != kNoToken) Check(text.find("HJ5_Ret(") != std::string::npos);

  NullForm form;
  ReplyTransport transport(raw);
  DeviceSession session;
  NullFtp ftp;
  NullClock clock;
  const Platform platform{transport, ftp, clock, 20};
  const ChosenFile chosen;
  CauseLog causes;
  const UpdateContext link{form, platform, session, chosen, causes};
  const bool accepted =
      ReplyFailureText(ReplyCode(text.substr(0, HttpTransport::kReplyCapacity)))
          .empty();
  const int verdict = CommandExchange(link, "ID=a&PW=b", 1);
  Check(verdict == (accepted ? 0 : -1));
  Check(form.boxes == (accepted ? 0 : 1));

  form.boxes = 0;
  const int identity = IdentityCheck(link);
  Check(identity == 0 || identity == -1);
  Check(form.boxes == (identity == 0 ? 0 : 1));
  return 0;
}
