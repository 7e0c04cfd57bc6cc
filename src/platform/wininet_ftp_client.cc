#include "platform/wininet_ftp_client.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/sequential_file.h"
#include "platform/text_checks.h"

namespace hj5 {
namespace {

constexpr std::size_t kMaxReplyText = 160;

// The server's last reply as WinINet kept it: its code (0 when none) and
// its first line, control bytes as "?", bounded, the password masked.
int LastReply(const std::string& password, std::string* line) {
  char text[1024] = {};
  DWORD error = 0;
  DWORD length = sizeof text;
  if (!InternetGetLastResponseInfoA(&error, text, &length)) return 0;
  const bool cut = length >= sizeof text - 1;
  std::string reply(text, cut ? sizeof text - 1 : length);
  reply = reply.substr(0, reply.find_first_of("\r\n"));
  // A line cut by the buffer may end in the first part of the password.
  if (cut && reply.size() == sizeof text - 1)
    reply.resize(reply.size() - std::min(reply.size(), password.size()));
  reply = OneLine(Redacted(std::move(reply), password), kMaxReplyText);
  *line = reply;
  int code = 0;
  for (std::size_t i = 0; i < 3 && i < reply.size(); ++i) {
    if (reply[i] < '0' || reply[i] > '9') return 0;
    code = code * 10 + (reply[i] - '0');
  }
  return reply.size() >= 3 ? code : 0;
}

bool IsRefusal(int reply) { return reply >= 400 && reply <= 599; }

const char* StageName(WinInetStage stage) {
  switch (stage) {
    case WinInetStage::kConnect:
      return "connect";
    case WinInetStage::kOpenFile:
      return "open remote file";
    case WinInetStage::kTransfer:
      return "write";
    case WinInetStage::kFinish:
      return "finish";
  }
  return "upload";
}

// Sets the limits of every call on `session`.
void SetLimits(HINTERNET session, const WinInetFtpLimits& limits) {
  DWORD connect = limits.connect_ms, send = limits.send_ms,
        receive = limits.receive_ms;
  InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &connect,
                     sizeof connect);
  InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &send, sizeof send);
  InternetSetOptionA(session, INTERNET_OPTION_DATA_SEND_TIMEOUT, &send,
                     sizeof send);
  InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive,
                     sizeof receive);
  InternetSetOptionA(session, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &receive,
                     sizeof receive);
}

}  // namespace

// WinINet's error → the client's code. Rows are tried top down.
//
//  error / last reply                                stage      code
//  ERROR_NOT_ENOUGH_MEMORY, ERROR_OUTOFMEMORY        any        -6
//  ERROR_NO_UNICODE_TRANSLATION                      any        -5
//  ERROR_INVALID_PARAMETER, _INTERNET_INVALID_URL    any        -1
//  reply 421 (the server is going away)              any        -2
//  ERROR_INTERNET_LOGIN_FAILURE, reply 530           any        -2
//  ERROR_INTERNET_NAME_NOT_RESOLVED, _CANNOT_CONNECT any        -2
//  reply 426 (transfer aborted)                      any        -3
//  a 4xx/5xx reply (STOR refused: 450, 550, 553...;
//    the final reply: 451, 452, 552...)              open file,
//                                                    finish     -4
//  everything else: time-outs, aborted or reset
//    connections, handles closed by Cancel()...      connect,
//                                                    open file  -2
//                                                    transfer,
//                                                    finish     -3
int WinInetResultCode(unsigned long error, int reply, WinInetStage stage) {
  switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ftp_code::kMemoryReserve;
    case ERROR_NO_UNICODE_TRANSLATION:
      return ftp_code::kCharConvert;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INTERNET_INVALID_URL:
      return ftp_code::kArgument;
    default:
      break;
  }
  if (reply == 421) return ftp_code::kConnection;
  if (error == ERROR_INTERNET_LOGIN_FAILURE || reply == 530) {
    return ftp_code::kConnection;
  }
  if (error == ERROR_INTERNET_NAME_NOT_RESOLVED ||
      error == ERROR_INTERNET_CANNOT_CONNECT) {
    return ftp_code::kConnection;
  }
  if (reply == 426) return ftp_code::kSendFile;
  const bool at_file =
      stage == WinInetStage::kOpenFile || stage == WinInetStage::kFinish;
  if (at_file && IsRefusal(reply)) return ftp_code::kServerFile;
  return stage == WinInetStage::kConnect || stage == WinInetStage::kOpenFile
             ? ftp_code::kConnection
             : ftp_code::kSendFile;
}

void WinInetFtpClient::HandleCloser::operator()(void* handle) const {
  if (handle) InternetCloseHandle(static_cast<HINTERNET>(handle));
}

WinInetFtpClient::WinInetFtpClient(WinInetFtpLimits limits) : limits_(limits) {}

WinInetFtpClient::~WinInetFtpClient() = default;

void WinInetFtpClient::Cancel() {
  cancelled_.store(true);
  std::lock_guard<std::mutex> lock(mutex_);
  // While connecting, the root handle has no child yet: closing it is how
  // WinINet ends a blocked connect. Later stages see the flag between
  // chunks; their own time limits bound each call.
  if (connecting_ && session_) {
    InternetCloseHandle(static_cast<HINTERNET>(session_));
    session_ = nullptr;
  }
}

Status WinInetFtpClient::Failed(const FtpUpload& upload, WinInetStage stage) {
  const DWORD error = GetLastError();
  if (cancelled_.load()) {
    return Status::Failure(ftp_code::kSendFile, "cancelled");
  }
  std::string reply;
  const int reply_code = LastReply(upload.password, &reply);
  std::string cause = std::string(StageName(stage)) + ": WinINet error " +
                      std::to_string(error);
  if (!reply.empty()) cause += "; last reply \"" + reply + "\"";
  return Status::Failure(WinInetResultCode(error, reply_code, stage),
                         std::move(cause));
}

Status WinInetFtpClient::Send(const FtpUpload& upload) {
  bytes_sent_.store(0);
  std::unique_ptr<SequentialFile> file;
  if (Status ready = PrepareUpload(upload, cancelled_.load(), &file);
      !ready.ok())
    return ready;
  Handle connection = Connect(upload);
  Status sent = connection ? Transfer(upload, connection.get(), *file)
                           : Failed(upload, WinInetStage::kConnect);
  const std::uint64_t size = file->Size();
  file.reset();
  if (sent.ok() && upload.verify != FtpVerify::kNone)
    sent = Verify(upload, connection.get(), size);
  connection.reset();
  // The root handle goes with the upload, a failed connect's too.
  std::lock_guard<std::mutex> lock(mutex_);
  if (session_) InternetCloseHandle(static_cast<HINTERNET>(session_));
  session_ = nullptr;
  return sent;
}

// Opens the root handle and logs in: the connection, or null with the
// error left in GetLastError().
WinInetFtpClient::Handle WinInetFtpClient::Connect(const FtpUpload& upload) {
  HINTERNET session = InternetOpenA("hj5-xml-update", INTERNET_OPEN_TYPE_DIRECT,
                                    nullptr, nullptr, 0);
  if (!session) return nullptr;
  SetLimits(session, limits_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = session;
    connecting_ = true;
    if (cancelled_.load()) {  // a Cancel() that came in between
      InternetCloseHandle(session);
      session_ = nullptr;
    }
  }
  // Passive mode: the device opens no connection towards the tool.
  HINTERNET connection = InternetConnectA(
      session, upload.host.c_str(), upload.port, upload.user.c_str(),
      upload.password.c_str(), INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  const DWORD error = GetLastError();
  std::lock_guard<std::mutex> lock(mutex_);
  connecting_ = false;
  if (!session_ && connection) {  // cancelled while it connected
    InternetCloseHandle(connection);
    connection = nullptr;
  }
  SetLastError(error);
  return Handle(connection);
}

// STOR of the remote path, the file in chunks, then the server's reply.
Status WinInetFtpClient::Transfer(const FtpUpload& upload, void* connection,
                                  SequentialFile& file) {
  // Binary (TYPE I), and no CWD: the remote path goes to STOR as given.
  Handle remote(FtpOpenFileA(
      static_cast<HINTERNET>(connection), upload.remote_path.c_str(),
      GENERIC_WRITE, FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
  if (!remote) return Failed(upload, WinInetStage::kOpenFile);
  std::vector<char> chunk(limits_.chunk_bytes);
  for (;;) {
    if (cancelled_.load()) {
      return Status::Failure(ftp_code::kSendFile, "cancelled");
    }
    std::size_t got = 0;
    if (Status read = file.Read(chunk.data(), chunk.size(), &got); !read.ok()) {
      return Status::Failure(ftp_code::kSendFile,
                             "local file: " + read.cause());
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!InternetWriteFile(static_cast<HINTERNET>(remote.get()), chunk.data(),
                           static_cast<DWORD>(got), &written) ||
        written != static_cast<DWORD>(got)) {
      return Failed(upload, WinInetStage::kTransfer);
    }
    bytes_sent_.fetch_add(written);
  }
  // Closing the file ends the data connection and reads the final reply.
  if (!InternetCloseHandle(static_cast<HINTERNET>(remote.release()))) {
    return Failed(upload, WinInetStage::kFinish);
  }
  return Status();
}

// The stored file's size by SIZE on the upload's own connection.
Status WinInetFtpClient::VerifySize(const FtpUpload& upload, void* connection,
                                    std::uint64_t size) {
  const std::string command = "SIZE " + upload.remote_path;
  std::string reply;
  const bool answered =
      FtpCommandA(static_cast<HINTERNET>(connection), FALSE,
                  FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr);
  const int code = LastReply(upload.password, &reply);
  if (cancelled_.load()) {
    return Status::Failure(ftp_code::kSendFile, "cancelled");
  }
  if (!answered || code != 213) {
    return Status::Failure(
        ftp_code::kVerify,
        "verify: the server tells no size (\"" + reply + "\")");
  }
  const std::string told = reply.size() > 4 ? reply.substr(4) : "";
  if (told != std::to_string(size)) {
    return Status::Failure(ftp_code::kVerify, "verify: SIZE says " + told +
                                                  " bytes, the file has " +
                                                  std::to_string(size));
  }
  return Status();
}

// The stored file read back by RETR and compared with the local one.
Status WinInetFtpClient::VerifyContent(const FtpUpload& upload,
                                       void* connection, std::uint64_t size) {
  std::unique_ptr<SequentialFile> local;
  if (Status open = OpenUploadFile(upload, &local); !open.ok()) {
    return Status::Failure(ftp_code::kVerify,
                           "verify: local file: " + open.cause());
  }
  Handle remote(FtpOpenFileA(
      static_cast<HINTERNET>(connection), upload.remote_path.c_str(),
      GENERIC_READ, FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_RELOAD, 0));
  if (!remote) {
    const Status failed = Failed(upload, WinInetStage::kOpenFile);
    return Status::Failure(ftp_code::kVerify, "verify: " + failed.cause());
  }
  std::vector<char> stored(limits_.chunk_bytes);
  std::vector<char> expected(limits_.chunk_bytes);
  std::uint64_t compared = 0;
  for (;;) {
    if (cancelled_.load()) {
      return Status::Failure(ftp_code::kSendFile, "cancelled");
    }
    DWORD got = 0;
    if (!InternetReadFile(static_cast<HINTERNET>(remote.get()), stored.data(),
                          static_cast<DWORD>(stored.size()), &got)) {
      const Status failed = Failed(upload, WinInetStage::kTransfer);
      return Status::Failure(ftp_code::kVerify, "verify: " + failed.cause());
    }
    std::size_t have = 0;
    while (have < got) {
      std::size_t read = 0;
      if (!local->Read(expected.data() + have, got - have, &read).ok() ||
          read == 0)
        break;
      have += read;
    }
    const auto differs =
        std::mismatch(stored.data(), stored.data() + have, expected.data());
    compared += static_cast<std::uint64_t>(differs.first - stored.data());
    if (have < got || differs.first != stored.data() + have) {
      return Status::Failure(ftp_code::kVerify,
                             "verify: the stored file differs from byte " +
                                 std::to_string(compared) + " on");
    }
    if (got == 0) break;
  }
  if (compared != size) {
    return Status::Failure(ftp_code::kVerify, "verify: the stored file has " +
                                                  std::to_string(compared) +
                                                  " bytes, the file " +
                                                  std::to_string(size));
  }
  return Status();
}

Status WinInetFtpClient::Verify(const FtpUpload& upload, void* connection,
                                std::uint64_t size) {
  if (upload.verify == FtpVerify::kContent)
    return VerifyContent(upload, connection, size);
  return VerifySize(upload, connection, size);
}

}  // namespace hj5
