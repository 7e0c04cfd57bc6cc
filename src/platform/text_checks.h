#ifndef HJ5_PLATFORM_TEXT_CHECKS_H_
#define HJ5_PLATFORM_TEXT_CHECKS_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ftp_client.h"
#include "platform/sequential_file.h"

namespace hj5 {

// True when `text` holds a byte below 0x20 (CR, LF, NUL, tab...) or, with
// `include_delete`, the byte 0x7F. Such a byte in a user name, password or
// path would end an FTP command line early or smuggle in a second command
// ("x\r\nDELE y"); DEL is refused in credentials too, since no operator
// types it there.
inline bool HasControlByte(std::string_view text, bool include_delete) {
  for (unsigned char c : text) {
    if (c < 0x20 || (include_delete && c == 0x7F)) return true;
  }
  return false;
}

// Every occurrence of `secret` in `text` as "***".
inline std::string Redacted(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + 3)) {
    text.replace(at, secret.size(), "***");
  }
  return text;
}

// Text from elsewhere fit for one log line: trailing blanks and line ends
// cut, other control bytes as '?', at most `limit` bytes.
inline std::string OneLine(std::string text, std::size_t limit) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
    text.pop_back();
  }
  for (char& c : text) {
    if (HasControlByte(std::string_view(&c, 1), true)) c = '?';
  }
  if (text.size() > limit) text.resize(limit);
  return text;
}

// Why `upload` must be refused before any traffic (ftp_code::kArgument), or
// "": an empty host, port 0, a control byte or DEL in the user or password,
// an empty remote path, a control byte in the remote path. Every FTP client
// refuses these; a client may refuse more.
inline std::string RefusedUploadArgument(const FtpUpload& upload) {
  if (upload.host.empty()) return "empty host";
  if (upload.port == 0) return "port 0";
  if (HasControlByte(upload.user, true)) return "user contains a control byte";
  if (HasControlByte(upload.password, true)) {
    return "password contains a control byte";
  }
  if (upload.remote_path.empty()) return "empty remote path";
  if (HasControlByte(upload.remote_path, false)) {
    return "remote path contains a control byte";
  }
  return "";
}

// The file an upload sends, read from its start: its content when given,
// else the file at its path, shared with other readers.
inline Status OpenUploadFile(const FtpUpload& upload,
                             std::unique_ptr<SequentialFile>* file) {
  if (upload.content) {
    *file = ReadFromStart(*upload.content);
    return Status();
  }
  return OpenSequentialFile(upload.local_path, file, FileSharing::kReaders);
}

// What every FTP client refuses before any traffic, in this order: a
// cancelled client (kSendFile), the arguments RefusedUploadArgument names
// and a local file that cannot be read (kArgument). On success `*file`
// holds the file to send.
inline Status PrepareUpload(const FtpUpload& upload, bool cancelled,
                            std::unique_ptr<SequentialFile>* file) {
  if (cancelled) return Status::Failure(ftp_code::kSendFile, "cancelled");
  if (std::string refused = RefusedUploadArgument(upload); !refused.empty())
    return Status::Failure(ftp_code::kArgument, std::move(refused));
  if (Status open = OpenUploadFile(upload, file); !open.ok())
    return Status::Failure(ftp_code::kArgument, "local file: " + open.cause());
  return Status();
}

}  // namespace hj5

#endif  // HJ5_PLATFORM_TEXT_CHECKS_H_
