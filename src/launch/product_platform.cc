#include "launch/product_platform.h"

#include "device/reply_token.h"

namespace hj5 {
namespace {

// The system's name lookup, and a reply complete once the device's closing
// token has come and the line stayed quiet.
AsioHttpTransportOptions DeviceTransport(AsioEventLoop* loop) {
  AsioHttpTransportOptions options;
  options.reply_closed = &EndsWithClosingToken;
  options.loop = loop;
  return options;
}

}  // namespace

ProductPlatform::ProductPlatform(AsioEventLoop* loop)
    : transport_(DeviceTransport(loop)) {}

}  // namespace hj5
