#include "launch/product_platform.h"

#include "device/reply_token.h"

namespace hj5 {
namespace {

// The system's name lookup, and a reply complete once the device's closing
// token has come and the line stayed quiet.
AsioHttpTransportOptions DeviceTransport() {
  AsioHttpTransportOptions options;
  options.reply_closed = &EndsWithClosingToken;
  return options;
}

}  // namespace

ProductPlatform::ProductPlatform() : transport_(DeviceTransport()) {}

}  // namespace hj5
