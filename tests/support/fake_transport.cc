#include "support/fake_transport.h"

namespace hj5::test {
namespace {

std::string Field(std::string_view body, std::string_view name) {
  // Fields are "name=value" pieces joined by "&".
  while (!body.empty()) {
    std::string_view piece = body.substr(0, body.find('&'));
    if (piece.size() > name.size() && piece.starts_with(name) &&
        piece[name.size()] == '=')
      return std::string(piece.substr(name.size() + 1));
    if (piece.size() == body.size()) break;
    body.remove_prefix(piece.size() + 1);
  }
  return "";
}

}  // namespace

std::string CommandNameOf(std::string_view request) {
  std::size_t head_end = request.find("\r\n\r\n");
  std::string_view body =
      head_end == std::string_view::npos ? "" : request.substr(head_end + 4);
  if (body == "\r\n") return "Probe";
  std::string mode = Field(body, "MODE");
  std::string code = Field(body, "CODE");
  std::string data = Field(body, "DATA");
  if (mode == "4") return "QueryDevice";
  if (mode == "3") return "RestartDevice";
  if (mode == "1") return "ModeOne";
  if (mode == "2" && code == "svr_ftp_port")
    return data == "21" ? "FtpOn" : "FtpOff";
  if (mode == "2" && code == "user9")
    return data == "UPDATE" ? "MarkForUpdate" : "RestoreDeviceCode";
  return "Unknown";
}

Status FakeTransport::Exchange(const std::string& address, std::uint16_t port,
                               std::string_view request, std::string* reply,
                               std::uint16_t limit_seconds) {
  reply->clear();
  last_address = address;
  last_port = port;
  last_limit = limit_seconds;
  requests.emplace_back(request);
  std::string command = CommandNameOf(request);
  transcript_.Add("send " + command + " at " + clock_.Stamp());
  if (cancelled_) return Status::Failure(http_code::kTimeout, "cancelled");
  FakeReply answer = Answer(command);
  clock_.Advance(answer.cost_ms);
  if (answer.code != 0) return Status::Failure(answer.code, answer.cause);
  *reply = answer.reply;
  return Status();
}

void FakeTransport::Always(const std::string& command, FakeReply reply) {
  always_[command] = std::move(reply);
}

void FakeTransport::Once(const std::string& command, FakeReply reply) {
  once_[command].push_back(std::move(reply));
}

FakeReply FakeTransport::Answer(const std::string& command) {
  auto queued = once_.find(command);
  if (queued != once_.end() && !queued->second.empty()) {
    FakeReply answer = queued->second.front();
    queued->second.pop_front();
    return answer;
  }
  auto always = always_.find(command);
  if (always != always_.end()) return always->second;
  if (command == "QueryDevice")
    return {0, "model=HJ-5\r\nuser9=HJ5M\r\nHJ5_Ret(0)"};
  return {0, "HJ5_Ret(0)"};
}

}  // namespace hj5::test
