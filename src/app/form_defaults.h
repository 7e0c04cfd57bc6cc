#ifndef HJ5_APP_FORM_DEFAULTS_H_
#define HJ5_APP_FORM_DEFAULTS_H_

// What both forms show before the operator types anything, and their
// fixed texts.
namespace hj5 {

inline constexpr char kFormTitle[] = "HJ-5 XML File Update";
inline constexpr char kBoxCaption[] = "XML File Update";
// A private-network address; the operator types the device's own.
inline constexpr char kDefaultAddress[] = "192.168.0.100";
inline constexpr char kDefaultFtpPort[] = "21";
inline constexpr char kDefaultHttpPort[] = "80";
inline constexpr int kRestartPeriodMs = 1000;
inline constexpr int kRestartTimerId = 2004;
inline constexpr int kSendFirmwareMessage = 102;

}  // namespace hj5

#endif  // HJ5_APP_FORM_DEFAULTS_H_
