#ifndef HJ5_DEVICE_FAILURE_CODES_H_
#define HJ5_DEVICE_FAILURE_CODES_H_

namespace hj5 {

// The codes of the failures whose text is the tool's own, with no code from
// a device's reply or a client library (those keep theirs: a reply's code,
// http_code, ftp_code, xml_code). Far below every code a device or a
// library gives, so that none is taken for another.
namespace failure_code {
inline constexpr int kDeviceCode = -101;     // "Device Code Error."
inline constexpr int kFtpOffStep = -102;     // "Processing(6) Error."
inline constexpr int kRestoreStep = -103;    // "Processing(7) Error."
inline constexpr int kRestartStep = -104;    // "Restart Command Error."
inline constexpr int kRebootTimeOut = -105;  // "Reboot Time out."
inline constexpr int kUpdateFailure = -106;  // "Update Failure."
inline constexpr int kUpdateError = -107;    // "An error occurred during ..."
inline constexpr int kNoReplyCode = -108;    // a reply with no usable token
inline constexpr int kFileName = -111;       // the chosen file's name
inline constexpr int kTypedValue = -112;     // a typed address or credential
}  // namespace failure_code

}  // namespace hj5

#endif  // HJ5_DEVICE_FAILURE_CODES_H_
