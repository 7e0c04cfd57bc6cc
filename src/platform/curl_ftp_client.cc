#include "platform/curl_ftp_client.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sequential_file.h"
#include "platform/text_checks.h"

namespace hj5 {
namespace {

// libcurl for the whole process, initialised once; never cleaned up.
CURLcode GlobalInitResult() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_ALL); });
  return result;
}

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyCleanup>;

struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlCleanup>;

// The bytes of a reply line kept for the cause; a longer line is cut.
constexpr std::size_t kKeptReplyBytes = 1024;
// The bytes of the reply line the cause shows.
constexpr std::size_t kShownReplyBytes = 160;

}  // namespace

// What the callbacks of one transfer share with Send(). It must outlive the
// easy handle: libcurl holds pointers to it until curl_easy_cleanup().
struct CurlFtpClient::Transfer {
  SequentialFile* file = nullptr;
  const std::atomic<bool>* cancelled = nullptr;
  std::atomic<std::uint64_t>* sent = nullptr;  // libcurl's upload count
  FtpPhase phase = FtpPhase::kSetup;
  Status read;                            // a failed read of the file
  char error[CURL_ERROR_SIZE] = {};       // libcurl's message for its result
  const std::string* password = nullptr;  // masked in every line kept
  std::string last_reply;    // the server's last reply line, masked, cut
  std::string last_refusal;  // its last 4xx or 5xx reply line, masked, cut
};

// What the read-back of the stored file compares it with.
struct Readback {
  SequentialFile* local = nullptr;
  std::uint64_t offset = 0;    // bytes compared so far
  bool differs = false;        // a byte differed, at `offset` or after it
  std::vector<char> expected;  // the local bytes of the chunk in hand
};

namespace {

using Transfer = CurlFtpClient::Transfer;

// libcurl asks for file data only once the server accepted STOR.
size_t ReadFile(char* buffer, size_t size, size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  transfer->phase = FtpPhase::kTransfer;
  std::size_t got = 0;
  transfer->read = transfer->file->Read(buffer, size * count, &got);
  return transfer->read.ok() ? got : CURL_READFUNC_ABORT;
}

// Takes what libcurl writes and keeps none of it.
size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// libcurl passes every line the server sends on the control connection;
// keeps the last one that starts with a reply code.
size_t KeepReply(char* buffer, size_t size, size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  std::string_view line(buffer, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.remove_suffix(1);
  }
  const bool coded = line.size() >= 3 && line[0] >= '0' && line[0] <= '9' &&
                     line[1] >= '0' && line[1] <= '9' && line[2] >= '0' &&
                     line[2] <= '9';
  if (coded) {
    // Masked before it is cut: a password across the cut would otherwise
    // leave its first part.
    std::string masked = Redacted(std::string(line), *transfer->password);
    if (line[0] == '4' || line[0] == '5')
      transfer->last_refusal = masked.substr(0, kShownReplyBytes);
    masked.resize(std::min(masked.size(), kKeptReplyBytes));
    transfer->last_reply = std::move(masked);
  }
  return size * count;
}

// An upload that is cut short (Cancel(), or the local file failed to read)
// must never end its data connection in order: the server would take the
// bytes so far for the whole file. Its sockets are reset instead.
bool Aborting(const Transfer& transfer) {
  return transfer.cancelled->load() || !transfer.read.ok();
}

// libcurl closes every socket through here.
int CloseSocket(void* data, curl_socket_t socket) {
  if (Aborting(*static_cast<Transfer*>(data))) {
    const linger reset{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  return ::close(socket);
}

// Called about once a second in every wait (connect, replies, data) and more
// often while data flows: keeps the bytes uploaded and aborts the upload
// after Cancel().
// The stored file as RETR brings it, against the local file, chunk by
// chunk: constant memory whatever the size. A difference ends the
// transfer.
size_t CompareStored(char* buffer, size_t size, size_t count, void* data) {
  auto* readback = static_cast<Readback*>(data);
  const std::size_t length = size * count;
  readback->expected.resize(length);
  std::size_t have = 0;
  while (have < length) {
    std::size_t got = 0;
    if (!readback->local
             ->Read(readback->expected.data() + have, length - have, &got)
             .ok() ||
        got == 0)
      break;
    have += got;
  }
  const auto mismatch =
      std::mismatch(buffer, buffer + have, readback->expected.data());
  readback->offset += static_cast<std::uint64_t>(mismatch.first - buffer);
  if (have < length || mismatch.first != buffer + have) {
    readback->differs = true;
    return 0;
  }
  return length;
}

int WatchCancel(void* data, curl_off_t, curl_off_t, curl_off_t,
                curl_off_t uploaded) {
  auto* transfer = static_cast<Transfer*>(data);
  if (uploaded > 0) transfer->sent->store(static_cast<std::uint64_t>(uploaded));
  return transfer->cancelled->load() ? 1 : 0;
}

// Sets options one at a time; after the first failure the rest are skipped
// and that failure is kept.
class Options {
 public:
  explicit Options(CURL* easy) : easy_(easy) {}

  template <typename Value>
  Options& Set(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(easy_, option, value);
    return *this;
  }

  CURLcode result() const { return result_; }

 private:
  CURL* easy_;
  CURLcode result_ = CURLE_OK;
};

// "[...]" around an IPv6 literal, its zone index ("%eth0") escaped.
std::string UrlHost(const std::string& host) {
  if (host.find(':') == std::string::npos || host.front() == '[') return host;
  std::string bracketed = "[";
  for (char c : host) bracketed.append(c == '%' ? "%25" : std::string(1, c));
  return bracketed + "]";
}

std::string UrlCause(const char* part, CURLUcode code) {
  return std::string("URL ") + part + ": " + curl_url_strerror(code);
}

// Host and port; the URL parser refuses what is not a host name, so nothing
// in it can turn into a path, user or query.
int SetServer(CURLU* url, const FtpUpload& upload, std::string& cause) {
  if (CURLUcode scheme = curl_url_set(url, CURLUPART_SCHEME, "ftp", 0);
      scheme != CURLUE_OK) {
    cause = UrlCause("scheme", scheme);
    return ftp_code::kMemoryReserve;
  }
  CURLUcode host =
      curl_url_set(url, CURLUPART_HOST, UrlHost(upload.host).c_str(), 0);
  if (host != CURLUE_OK) cause = UrlCause("host", host);
  if (host == CURLUE_OUT_OF_MEMORY) return ftp_code::kMemoryReserve;
  if (host != CURLUE_OK) return ftp_code::kConnection;  // cannot resolve
  std::string port = std::to_string(upload.port);
  if (CURLUcode set = curl_url_set(url, CURLUPART_PORT, port.c_str(), 0);
      set != CURLUE_OK) {
    cause = UrlCause("port", set);
    return ftp_code::kArgument;
  }
  return ftp_code::kOk;
}

// The remote path, every byte but letters, digits and "-._~" escaped; with
// no CWD libcurl decodes it and sends it to STOR whole.
int SetPath(CURL* easy, CURLU* url, const std::string& remote_path,
            std::string& cause) {
  if (remote_path.size() > static_cast<std::size_t>(INT_MAX)) {
    cause = "remote path too long";
    return ftp_code::kCharConvert;
  }
  std::unique_ptr<char, decltype(&curl_free)> escaped(
      curl_easy_escape(easy, remote_path.data(),
                       static_cast<int>(remote_path.size())),
      &curl_free);
  if (!escaped) {
    cause = "remote path cannot be escaped";
    return ftp_code::kCharConvert;
  }
  std::string path = std::string("/") + escaped.get();
  CURLUcode set = curl_url_set(url, CURLUPART_PATH, path.c_str(), 0);
  if (set == CURLUE_OK) return ftp_code::kOk;
  cause = UrlCause("path", set);
  return set == CURLUE_OUT_OF_MEMORY ? ftp_code::kMemoryReserve
                                     : ftp_code::kCharConvert;
}

// libcurl reads 0 as "no limit": anything below the unit counts as one.
long WholeSeconds(std::chrono::seconds limit) {
  return limit.count() < 1 ? 1L : static_cast<long>(limit.count());
}
long WholeMilliseconds(std::chrono::milliseconds limit) {
  return limit.count() < 1 ? 1L : static_cast<long>(limit.count());
}

// Every option of the upload; returns libcurl's first failure.
CURLcode Configure(CURL* easy, CURLU* url, const FtpUpload& upload,
                   curl_off_t size, Transfer& transfer,
                   const CurlFtpLimits& limits) {
  Options options(easy);
  // No signal handlers, no SIGALRM for time-outs: the process has threads.
  options.Set(CURLOPT_NOSIGNAL, 1L);
  // FTP and nothing else: libcurl refuses a URL of any other scheme.
  options.Set(CURLOPT_PROTOCOLS_STR, "ftp");
  // The URL set part by part: no typed text can spill into another part.
  options.Set(CURLOPT_CURLU, url);
  // No "/../" or "/./" squashing: STOR gets the remote path as given.
  options.Set(CURLOPT_PATH_AS_IS, 1L);
  // Sent as is in USER: credentials never go into the URL.
  options.Set(CURLOPT_USERNAME, upload.user.c_str());
  // Sent as is in PASS.
  options.Set(CURLOPT_PASSWORD, upload.password.c_str());
  // Store the file (STOR) rather than fetch one.
  options.Set(CURLOPT_UPLOAD, 1L);
  // TYPE I: the file goes byte for byte, no ASCII-mode line ends.
  options.Set(CURLOPT_TRANSFERTEXT, 0L);
  // No LF to CR LF conversion of the file data.
  options.Set(CURLOPT_CRLF, 0L);
  // No CWD: one STOR with the whole path, backslashes and all.
  options.Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  // EPSV first (IPv6 needs it), PASV when the server refuses it.
  options.Set(CURLOPT_FTP_USE_EPSV, 1L);
  // Data to the control connection's address, not PASV's: NAT, lying server.
  options.Set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
  // The size at the open: a file that shrinks meanwhile fails the upload.
  options.Set(CURLOPT_INFILESIZE_LARGE, size);
  // The file data, read as libcurl sends it; the first read marks kTransfer.
  options.Set(CURLOPT_READFUNCTION, &ReadFile);
  // The reader's file and phase.
  options.Set(CURLOPT_READDATA, static_cast<void*>(&transfer));
  // Turns the progress callback on: it is where Cancel() is seen.
  options.Set(CURLOPT_NOPROGRESS, 0L);
  // Called about once a second even while waiting; aborts after Cancel().
  options.Set(CURLOPT_XFERINFOFUNCTION, &WatchCancel);
  // The flag it reads and the count it keeps.
  options.Set(CURLOPT_XFERINFODATA, static_cast<void*>(&transfer));
  // An aborted upload resets its connections rather than closing them.
  options.Set(CURLOPT_CLOSESOCKETFUNCTION, &CloseSocket);
  // Whether the upload is being aborted.
  options.Set(CURLOPT_CLOSESOCKETDATA, static_cast<void*>(&transfer));
  // Bounds the connection phase: name lookup, TCP connect, greeting, login.
  options.Set(CURLOPT_CONNECTTIMEOUT_MS,
              WholeMilliseconds(limits.connect_timeout));
  // Bounds the wait for every reply, the one after the last byte included.
  options.Set(CURLOPT_SERVER_RESPONSE_TIMEOUT,
              WholeSeconds(limits.server_response_timeout));
  // With LOW_SPEED_TIME: a data connection that stalls fails the upload.
  options.Set(CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_limit);
  // How long the speed may stay below LOW_SPEED_LIMIT.
  options.Set(CURLOPT_LOW_SPEED_TIME, WholeSeconds(limits.low_speed_time));
  // libcurl's own message for its result, for the failure's cause.
  options.Set(CURLOPT_ERRORBUFFER, transfer.error);
  // Every line the server sends on the control connection, for the cause.
  options.Set(CURLOPT_HEADERFUNCTION, &KeepReply);
  // Where KeepReply keeps the last reply.
  options.Set(CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
  return options.result();
}

// "curl 67: Access denied: 530" from libcurl's result and its message.
std::string CurlCause(CURLcode result, const char* message,
                      const std::string& password = "") {
  std::string text = message != nullptr && message[0] != '\0'
                         ? message
                         : curl_easy_strerror(result);
  return "curl " + std::to_string(static_cast<int>(result)) + ": " +
         OneLine(Redacted(std::move(text), password), CURL_ERROR_SIZE);
}

// "; last reply "530 Login incorrect."", or the bare code when no line was
// kept, or nothing when the server never replied.
std::string ReplyCause(const Transfer& transfer, long reply) {
  const std::string line = OneLine(transfer.last_reply, kShownReplyBytes);
  if (!line.empty()) return "; last reply \"" + line + "\"";
  if (reply != 0) return "; last reply " + std::to_string(reply);
  return "";
}

int SetupFailure(CURLcode code) {
  return code == CURLE_OUT_OF_MEMORY ? ftp_code::kMemoryReserve
                                     : ftp_code::kArgument;
}

bool IsFinalRefusal(long reply) {
  return reply >= 400 && reply <= 599 && reply != 426;
}

}  // namespace

// libcurl's result → the client's code. Rows are tried top down.
//
//  last reply / result                               phase      code
//  reply 421 (libcurl reports it as a time-out)      any        -2
//  CURLE_OK with reply 226 or 250                    any         0
//  CURLE_OK with any other reply                     any        -4
//  CURLE_OUT_OF_MEMORY                               any        -6
//  CURLE_URL_MALFORMAT, CURLE_CONV_FAILED            any        -5
//  CURLE_ABORTED_BY_CALLBACK (Cancel, or the local
//    file failed to read), CURLE_READ_ERROR          any        -3
//  CURLE_COULDNT_RESOLVE_HOST, _PROXY,
//    CURLE_COULDNT_CONNECT, CURLE_LOGIN_DENIED (530) any        -2
//  CURLE_UPLOAD_FAILED (STOR refused: 450, 452, 550,
//    552, 553...), CURLE_REMOTE_ACCESS_DENIED,
//    CURLE_REMOTE_DISK_FULL (552 as final reply),
//    CURLE_REMOTE_FILE_EXISTS,
//    CURLE_FILESIZE_EXCEEDED, CURLE_FTP_COULDNT_SET_TYPE any    -4
//  CURLE_PARTIAL_FILE with a 4xx/5xx final reply
//    other than 426 (451, 552...)                    any        -4
//  everything else: OPERATION_TIMEDOUT (silent
//    server, stalled data, no final reply),
//    SEND_ERROR, RECV_ERROR, PARTIAL_FILE (426, a
//    file that shrank), GOT_NOTHING, odd replies...  setup      -2
//                                                    transfer   -3
//
// The phase is kTransfer from the first read of the local file on, that is
// once the server accepted STOR.
int FtpResultCode(int curl_code, long last_reply, FtpPhase phase) {
  const auto code = static_cast<CURLcode>(curl_code);
  if (last_reply == 421) return ftp_code::kConnection;
  switch (code) {
    case CURLE_OK:
      return last_reply == 226 || last_reply == 250 ? ftp_code::kOk
                                                    : ftp_code::kServerFile;
    case CURLE_OUT_OF_MEMORY:
      return ftp_code::kMemoryReserve;
    case CURLE_URL_MALFORMAT:
    case CURLE_CONV_FAILED:
      return ftp_code::kCharConvert;
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_READ_ERROR:
      return ftp_code::kSendFile;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_LOGIN_DENIED:
      return ftp_code::kConnection;
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_FTP_COULDNT_SET_TYPE:
      return ftp_code::kServerFile;
    case CURLE_PARTIAL_FILE:
      if (IsFinalRefusal(last_reply)) return ftp_code::kServerFile;
      break;
    default:
      break;
  }
  return phase == FtpPhase::kSetup ? ftp_code::kConnection
                                   : ftp_code::kSendFile;
}

CurlFtpClient::CurlFtpClient(CurlFtpLimits limits) : limits_(limits) {
  GlobalInitResult();
}

void CurlFtpClient::Cancel() { cancelled_.store(true); }

Status CurlFtpClient::Send(const FtpUpload& upload) {
  bytes_sent_.store(0);
  std::unique_ptr<SequentialFile> file;
  if (Status ready = PrepareUpload(upload, cancelled_.load(), &file);
      !ready.ok())
    return ready;
  if (upload.remote_path.back() == '/') {  // libcurl would take a directory
    return Status::Failure(ftp_code::kArgument, "remote path ends in \"/\"");
  }
  if (CURLcode init = GlobalInitResult(); init != CURLE_OK) {
    return Status::Failure(ftp_code::kMemoryReserve, CurlCause(init, ""));
  }
  return Upload(upload, *file);
}

// libcurl's end of a transfer as the client's failure: the code of
// FtpResultCode and its cause.
Status CurlFtpClient::Ended(int curl_code, long reply, const Transfer& transfer,
                            const FtpUpload& upload) const {
  const auto result = static_cast<CURLcode>(curl_code);
  const int code = FtpResultCode(result, reply, transfer.phase);
  if (code == ftp_code::kOk) return Status();
  if (result == CURLE_ABORTED_BY_CALLBACK && !transfer.read.ok()) {
    return Status::Failure(code, "local file: " + transfer.read.cause());
  }
  if (result == CURLE_ABORTED_BY_CALLBACK && cancelled_.load()) {
    return Status::Failure(code, "cancelled");
  }
  return Status::Failure(code,
                         CurlCause(result, transfer.error, upload.password) +
                             ReplyCause(transfer, reply));
}

Status CurlFtpClient::Upload(const FtpUpload& upload, SequentialFile& file) {
  // Before the easy handle, which points into it until its cleanup.
  Transfer transfer;
  transfer.file = &file;
  transfer.password = &upload.password;
  transfer.cancelled = &cancelled_;
  transfer.sent = &bytes_sent_;
  EasyPtr easy(curl_easy_init());
  UrlPtr url(curl_url());
  if (!easy || !url) {
    return Status::Failure(ftp_code::kMemoryReserve,
                           CurlCause(CURLE_OUT_OF_MEMORY, ""));
  }
  std::string cause;
  if (int server = SetServer(url.get(), upload, cause);
      server != ftp_code::kOk) {
    return Status::Failure(server, std::move(cause));
  }
  if (int path = SetPath(easy.get(), url.get(), upload.remote_path, cause);
      path != ftp_code::kOk) {
    return Status::Failure(path, std::move(cause));
  }
  const auto size = static_cast<curl_off_t>(file.Size());
  CURLcode set =
      Configure(easy.get(), url.get(), upload, size, transfer, limits_);
  if (set != CURLE_OK) {
    return Status::Failure(SetupFailure(set), CurlCause(set, ""));
  }
  CURLcode result = curl_easy_perform(easy.get());
  long reply = 0;
  if (curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &reply) !=
      CURLE_OK) {
    reply = 0;
  }
  Status stored = Ended(result, reply, transfer, upload);
  if (!stored.ok() || upload.verify == FtpVerify::kNone) return stored;
  return Verify(easy.get(), upload, file.Size(), transfer);
}

// Asks for the stored file's size on the upload's own connection: SIZE (and
// REST 0, which libcurl adds), no data connection.
Status CurlFtpClient::VerifySize(void* easy, const FtpUpload& upload,
                                 std::uint64_t size, Transfer& transfer) {
  Options options(static_cast<CURL*>(easy));
  options.Set(CURLOPT_UPLOAD, 0L).Set(CURLOPT_NOBODY, 1L);
  // libcurl hands the size it learns to the body's writer as well, as
  // "Content-Length: N" lines; by default that writer is stdout.
  options.Set(CURLOPT_WRITEFUNCTION, &Discard);
  if (options.result() != CURLE_OK) {
    return Status::Failure(ftp_code::kVerify, CurlCause(options.result(), ""));
  }
  transfer.last_refusal.clear();
  const CURLcode result = curl_easy_perform(static_cast<CURL*>(easy));
  if (cancelled_.load()) {
    return Status::Failure(ftp_code::kSendFile, "cancelled");
  }
  curl_off_t length = -1;
  if (result != CURLE_OK ||
      curl_easy_getinfo(static_cast<CURL*>(easy),
                        CURLINFO_CONTENT_LENGTH_DOWNLOAD_T,
                        &length) != CURLE_OK)
    length = -1;
  if (length < 0) {
    std::string why =
        transfer.last_refusal.empty()
            ? CurlCause(result, transfer.error, upload.password)
            : "\"" + OneLine(transfer.last_refusal, kShownReplyBytes) + "\"";
    return Status::Failure(ftp_code::kVerify,
                           "verify: the server tells no size (" + why + ")");
  }
  if (static_cast<std::uint64_t>(length) != size) {
    return Status::Failure(ftp_code::kVerify,
                           "verify: SIZE says " + std::to_string(length) +
                               " bytes, the file has " + std::to_string(size));
  }
  return Status();
}

// Reads the stored file back (RETR) and compares it with the local one.
Status CurlFtpClient::VerifyContent(void* easy, const FtpUpload& upload,
                                    std::uint64_t size, Transfer& transfer) {
  std::unique_ptr<SequentialFile> local;
  if (Status open = OpenUploadFile(upload, &local); !open.ok()) {
    return Status::Failure(ftp_code::kVerify,
                           "verify: local file: " + open.cause());
  }
  Readback readback;
  readback.local = local.get();
  Options options(static_cast<CURL*>(easy));
  options.Set(CURLOPT_UPLOAD, 0L)
      .Set(CURLOPT_NOBODY, 0L)
      .Set(CURLOPT_WRITEFUNCTION, &CompareStored)
      .Set(CURLOPT_WRITEDATA, static_cast<void*>(&readback));
  if (options.result() != CURLE_OK) {
    return Status::Failure(ftp_code::kVerify, CurlCause(options.result(), ""));
  }
  const CURLcode result = curl_easy_perform(static_cast<CURL*>(easy));
  if (cancelled_.load()) {
    return Status::Failure(ftp_code::kSendFile, "cancelled");
  }
  if (readback.differs) {
    return Status::Failure(ftp_code::kVerify,
                           "verify: the stored file differs from byte " +
                               std::to_string(readback.offset) + " on");
  }
  if (result != CURLE_OK) {
    return Status::Failure(
        ftp_code::kVerify,
        "verify: " + CurlCause(result, transfer.error, upload.password) +
            ReplyCause(transfer, 0));
  }
  if (readback.offset != size) {
    return Status::Failure(ftp_code::kVerify,
                           "verify: the stored file has " +
                               std::to_string(readback.offset) +
                               " bytes, the file " + std::to_string(size));
  }
  return Status();
}

Status CurlFtpClient::Verify(void* easy, const FtpUpload& upload,
                             std::uint64_t size, Transfer& transfer) {
  if (upload.verify == FtpVerify::kContent)
    return VerifyContent(easy, upload, size, transfer);
  return VerifySize(easy, upload, size, transfer);
}

}  // namespace hj5
