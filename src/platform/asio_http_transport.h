#ifndef HJ5_PLATFORM_ASIO_HTTP_TRANSPORT_H_
#define HJ5_PLATFORM_ASIO_HTTP_TRANSPORT_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/http_transport.h"

namespace hj5 {

// The product's transport: one TCP connection per exchange on standalone
// Asio, driven on the calling thread. No connection is kept between
// exchanges.
//
// A reply ends at the first of:
//   - the peer closes the connection;
//   - a complete HTTP response by its Content-Length header has arrived;
//   - the bytes held end with a closing token "HJ5_Ret(<n>)" (optionally
//     followed by blanks, CR or LF) and no further byte arrives within the
//     quiet period; a further byte restarts the wait;
//   - kReplyCapacity bytes are held (the rest is never read);
//   - the limit for the whole exchange passes (resolve, connect, send and
//     receive together; not per read).
//
// Threading: Exchange() runs everything on the calling thread, one exchange
// at a time per object; the object starts no thread of its own (Asio runs
// the system resolver on a private thread when a host name is looked up;
// an exchange still ends at its deadline, but destroying the object waits
// for a lookup the system has not finished yet).
// Cancel() may be called from any thread while the object lives.
class AsioHttpTransport final : public HttpTransport {
 public:
  // How long the line must stay silent after a closing token.
  static constexpr std::chrono::milliseconds kDefaultQuietPeriod{200};

  explicit AsioHttpTransport(
      std::chrono::milliseconds quiet_period = kDefaultQuietPeriod);
  ~AsioHttpTransport() override;

  // See HttpTransport::Exchange. On return `*reply` holds every byte that
  // arrived, also when the code is not 0. The codes are those of
  // ResultCode() in the implementation file: -1 empty or unresolvable
  // address, -2 no socket, -3 no connection, -4 not sent, -5 deadline or
  // cancelled, -6 reset while receiving, -7 closed with nothing received.
  int Exchange(const std::string& address, std::uint16_t port,
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
