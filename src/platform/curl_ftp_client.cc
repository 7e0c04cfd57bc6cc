#include "platform/curl_ftp_client.h"

#include <curl/curl.h>
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace hj5 {
namespace {

// libcurl for the whole process, initialised once; never cleaned up.
CURLcode GlobalInitResult() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_ALL); });
  return result;
}

bool HasControlByte(std::string_view text, bool include_delete) {
  for (unsigned char c : text) {
    if (c < 0x20 || (include_delete && c == 0x7F)) return true;
  }
  return false;
}

// The checks that refuse an upload before any traffic (-1), local file aside.
bool ArgumentsAcceptable(const FtpUpload& upload) {
  if (upload.host.empty() || upload.port == 0) return false;
  if (HasControlByte(upload.user, true)) return false;
  if (HasControlByte(upload.password, true)) return false;
  if (upload.remote_path.empty() || upload.remote_path.back() == '/') {
    return false;  // libcurl reads a trailing "/" as a directory
  }
  return !HasControlByte(upload.remote_path, false);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for binary reading; null when that is not possible.
FilePtr OpenLocalFile(const std::string& path, curl_off_t& size) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    return nullptr;
  }
  size = static_cast<curl_off_t>(info.st_size);
  return file;
}

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyCleanup>;

struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlPtr = std::unique_ptr<CURLU, UrlCleanup>;

// What the callbacks of one transfer share with Send().
struct Transfer {
  std::FILE* file = nullptr;
  const std::atomic<bool>* cancelled = nullptr;
  FtpPhase phase = FtpPhase::kSetup;
};

// libcurl asks for file data only once the server accepted STOR.
size_t ReadFile(char* buffer, size_t size, size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  transfer->phase = FtpPhase::kTransfer;
  size_t got = std::fread(buffer, 1, size * count, transfer->file);
  if (got == 0 && std::ferror(transfer->file)) return CURL_READFUNC_ABORT;
  return got;
}

// Called about once a second in every wait (connect, replies, data) and more
// often while data flows: aborts the upload after Cancel().
int WatchCancel(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(data)->cancelled->load() ? 1 : 0;
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

// Host and port; the URL parser refuses what is not a host name, so nothing
// in it can turn into a path, user or query.
int SetServer(CURLU* url, const FtpUpload& upload) {
  if (curl_url_set(url, CURLUPART_SCHEME, "ftp", 0) != CURLUE_OK) {
    return ftp_code::kMemoryReserve;
  }
  CURLUcode host =
      curl_url_set(url, CURLUPART_HOST, UrlHost(upload.host).c_str(), 0);
  if (host == CURLUE_OUT_OF_MEMORY) return ftp_code::kMemoryReserve;
  if (host != CURLUE_OK) return ftp_code::kConnection;  // cannot resolve
  std::string port = std::to_string(upload.port);
  if (curl_url_set(url, CURLUPART_PORT, port.c_str(), 0) != CURLUE_OK) {
    return ftp_code::kArgument;
  }
  return ftp_code::kOk;
}

// The remote path, every byte but letters, digits and "-._~" escaped; with
// no CWD libcurl decodes it and sends it to STOR whole.
int SetPath(CURL* easy, CURLU* url, const std::string& remote_path) {
  if (remote_path.size() > static_cast<std::size_t>(INT_MAX)) {
    return ftp_code::kCharConvert;
  }
  std::unique_ptr<char, decltype(&curl_free)> escaped(
      curl_easy_escape(easy, remote_path.data(),
                       static_cast<int>(remote_path.size())),
      &curl_free);
  if (!escaped) return ftp_code::kCharConvert;
  std::string path = std::string("/") + escaped.get();
  CURLUcode set = curl_url_set(url, CURLUPART_PATH, path.c_str(), 0);
  if (set == CURLUE_OUT_OF_MEMORY) return ftp_code::kMemoryReserve;
  return set == CURLUE_OK ? ftp_code::kOk : ftp_code::kCharConvert;
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
  options.Set(CURLOPT_NOSIGNAL, 1L);
  options.Set(CURLOPT_PROTOCOLS_STR, "ftp");
  options.Set(CURLOPT_CURLU, url);
  options.Set(CURLOPT_PATH_AS_IS, 1L);
  options.Set(CURLOPT_USERNAME, upload.user.c_str());
  options.Set(CURLOPT_PASSWORD, upload.password.c_str());
  options.Set(CURLOPT_UPLOAD, 1L);
  options.Set(CURLOPT_TRANSFERTEXT, 0L);
  options.Set(CURLOPT_CRLF, 0L);
  options.Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  options.Set(CURLOPT_FTP_USE_EPSV, 1L);
  options.Set(CURLOPT_FTP_SKIP_PASV_IP, 1L);
  options.Set(CURLOPT_INFILESIZE_LARGE, size);
  options.Set(CURLOPT_READFUNCTION, &ReadFile);
  options.Set(CURLOPT_READDATA, static_cast<void*>(&transfer));
  options.Set(CURLOPT_NOPROGRESS, 0L);
  options.Set(CURLOPT_XFERINFOFUNCTION, &WatchCancel);
  options.Set(CURLOPT_XFERINFODATA, static_cast<void*>(&transfer));
  options.Set(CURLOPT_CONNECTTIMEOUT_MS,
              WholeMilliseconds(limits.connect_timeout));
  options.Set(CURLOPT_SERVER_RESPONSE_TIMEOUT,
              WholeSeconds(limits.server_response_timeout));
  options.Set(CURLOPT_LOW_SPEED_LIMIT, limits.low_speed_limit);
  options.Set(CURLOPT_LOW_SPEED_TIME, WholeSeconds(limits.low_speed_time));
  return options.result();
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

int CurlFtpClient::Send(const FtpUpload& upload) {
  if (cancelled_.load()) return ftp_code::kSendFile;
  if (GlobalInitResult() != CURLE_OK) return ftp_code::kMemoryReserve;
  if (!ArgumentsAcceptable(upload)) return ftp_code::kArgument;
  curl_off_t size = 0;
  FilePtr file = OpenLocalFile(upload.local_path, size);
  if (!file) return ftp_code::kArgument;
  return Upload(upload, file.get(), size);
}

int CurlFtpClient::Upload(const FtpUpload& upload, std::FILE* file,
                          std::int64_t size) {
  EasyPtr easy(curl_easy_init());
  UrlPtr url(curl_url());
  if (!easy || !url) return ftp_code::kMemoryReserve;
  if (int server = SetServer(url.get(), upload); server != ftp_code::kOk) {
    return server;
  }
  if (int path = SetPath(easy.get(), url.get(), upload.remote_path);
      path != ftp_code::kOk) {
    return path;
  }
  Transfer transfer{file, &cancelled_, FtpPhase::kSetup};
  CURLcode set =
      Configure(easy.get(), url.get(), upload, size, transfer, limits_);
  if (set != CURLE_OK) return SetupFailure(set);
  CURLcode result = curl_easy_perform(easy.get());
  long reply = 0;
  if (curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &reply) !=
      CURLE_OK) {
    reply = 0;
  }
  return FtpResultCode(result, reply, transfer.phase);
}

}  // namespace hj5
