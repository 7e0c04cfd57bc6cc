#ifndef HJ5_PLATFORM_ASIO_HTTP_TRANSPORT_H_
#define HJ5_PLATFORM_ASIO_HTTP_TRANSPORT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/http_transport.h"
#include "platform/name_lookup.h"

namespace asio {
class io_context;
}  // namespace asio

namespace hj5 {

// An event loop that many transports' exchanges share (a fleet's devices):
// one io_context, one epoll and its wake-ups for all of them, run by a
// thread of its own, instead of one of each per transport.
// Threading: any thread; every transport that uses it must be gone before
// it is.
class AsioEventLoop {
 public:
  AsioEventLoop();
  ~AsioEventLoop();
  AsioEventLoop(const AsioEventLoop&) = delete;
  AsioEventLoop& operator=(const AsioEventLoop&) = delete;

  asio::io_context& context();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// How an AsioHttpTransport looks names up and decides that a reply is
// complete.
struct AsioHttpTransportOptions {
  static constexpr std::chrono::milliseconds kDefaultQuietPeriod{200};

  // Looks up host names; null: a SystemNameLookup the transport owns.
  // Otherwise it must outlive the transport.
  NameLookup* lookup = nullptr;
  // How long the line must stay silent after `reply_closed` held.
  std::chrono::milliseconds quiet_period = kDefaultQuietPeriod;
  // Whether the bytes held so far close the peer's reply (for the device:
  // EndsWithClosingToken of device/reply_token.h). Called on the exchange
  // thread after every read. Empty: no such rule, a reply then ends only by
  // the other rules below.
  std::function<bool(std::string_view held)> reply_closed;
  // The loop the exchanges run on; null: each exchange runs on the calling
  // thread, on an io_context of the transport's own (three descriptors
  // held for the transport's life). Must outlive the transport.
  AsioEventLoop* loop = nullptr;
};

// The product's transport: one TCP connection per exchange on standalone
// Asio, driven on the calling thread. No connection is kept between
// exchanges. A host name is looked up through the options' NameLookup; a
// numeric address is used as it is.
//
// A reply ends at the first of:
//   - the peer closes the connection;
//   - a complete HTTP response by its Content-Length header has arrived;
//   - the reply has no Content-Length (none in its header, or no complete
//     header yet), `reply_closed` holds for the bytes held and no further
//     byte arrives within the quiet period; a further byte restarts the
//     wait;
//   - kReplyCapacity bytes are held (the rest is never read);
//   - the limit for the whole exchange passes (lookup, connect, send and
//     receive together; not per read).
//
// Threading: Exchange() runs on the calling thread, one exchange at a time
// per object; the object starts no thread of its own. With a shared loop
// (the options' `loop`) the exchange's handlers run on the loop's thread
// and Exchange() waits for its end.
// An exchange ends at its deadline or on Cancel() even while the lookup is
// pending: the lookup is then abandoned, and neither the exchange nor the
// destructor waits for it. Cancel() may be called from any thread while the
// object lives.
class AsioHttpTransport final : public HttpTransport {
 public:
  AsioHttpTransport();
  explicit AsioHttpTransport(AsioHttpTransportOptions options);
  ~AsioHttpTransport() override;

  // See HttpTransport::Exchange. On return `*reply` holds every byte that
  // arrived, also after a failure. The codes are those of ResultCode() in
  // the implementation file: -1 empty or unresolvable address, -2 no
  // socket, -3 no connection, -4 not sent, -5 deadline or cancelled, -6
  // reset while receiving, -7 closed with nothing received. The causes read
  // "connect 127.0.0.1:8080: Connection refused", "lookup device.example:
  // Name or service not known", "deadline of 20 s passed while receiving
  // (37 bytes held)", "cancelled".
  Status Exchange(const std::string& address, std::uint16_t port,
                  std::string_view request, std::string* reply,
                  std::uint16_t limit_seconds) override;

  // Ends the exchange in progress with kTimeout and makes every later
  // exchange return kTimeout at once (the stop is never undone). Any thread;
  // never blocks: the cancel is posted to the exchange's own io_context.
  void Cancel() override;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace hj5

#endif  // HJ5_PLATFORM_ASIO_HTTP_TRANSPORT_H_
