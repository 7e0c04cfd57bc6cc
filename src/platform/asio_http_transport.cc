#include "platform/asio_http_transport.h"

#include <asio.hpp>
#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/http_reply_framing.h"

namespace hj5 {
namespace {

using asio::ip::tcp;

// How far an exchange has come; a failure means something different in
// every phase.
enum class Phase { kResolving, kOpening, kConnecting, kSending, kReceiving };

// Why an exchange ended.
enum class Ending {
  kReplyComplete,  // by Content-Length, closing token and quiet, or capacity
  kPeerClosed,     // the peer closed the connection in order
  kDeadline,       // the limit for the whole exchange passed
  kStopped,        // Cancel(), during the exchange or before it
  kFailed,         // the system reported an error (or the address is empty)
  kNoResources,    // the system refused memory or descriptors for the call
};

// The one place where the end of an exchange becomes the code the caller
// gets. `held` is the number of reply bytes received.
//
//   phase        | ending                         | code
//   -------------+--------------------------------+-----------------------
//   any          | kStopped                       | -5 kTimeout
//   any          | kNoResources                   | -2 kSocket
//   kResolving   | kFailed (empty, unknown name)  | -1 kNetworkParameter
//   kResolving   | kDeadline                      | -1 kNetworkParameter
//   kOpening     | kFailed (no descriptor, ...)   | -2 kSocket
//   kConnecting  | kFailed (refused, unreachable) | -3 kConnection
//   kConnecting  | kDeadline (connect time-out)   | -3 kConnection
//   kSending     | kFailed or kDeadline           | -4 kSending
//   kReceiving   | kReplyComplete                 |  0 kOk
//   kReceiving   | kPeerClosed, held > 0          |  0 kOk (a reply came)
//   kReceiving   | kPeerClosed, held == 0         | -7 kResponse
//   kReceiving   | kDeadline, any held            | -5 kTimeout
//   kReceiving   | kFailed (reset ...), any held  | -6 kReception
//
// When several endpoints were tried, the phase is that of the last one.
int ResultCode(Phase phase, Ending ending, std::size_t held) {
  if (ending == Ending::kStopped) return http_code::kTimeout;
  if (ending == Ending::kNoResources) return http_code::kSocket;
  switch (phase) {
    case Phase::kResolving:
      return http_code::kNetworkParameter;
    case Phase::kOpening:
      return http_code::kSocket;
    case Phase::kConnecting:
      return http_code::kConnection;
    case Phase::kSending:
      return http_code::kSending;
    case Phase::kReceiving:
      break;
  }
  switch (ending) {
    case Ending::kReplyComplete:
      return http_code::kOk;
    case Ending::kPeerClosed:
      return held > 0 ? http_code::kOk : http_code::kResponse;
    case Ending::kDeadline:
    case Ending::kStopped:
      return http_code::kTimeout;
    case Ending::kFailed:
    case Ending::kNoResources:
      break;
  }
  return http_code::kReception;
}

// One exchange: the sockets, timers and buffer it owns. Every handler holds
// a shared pointer to it, so a handler that runs after the exchange ended
// (a stale resolve in a later exchange) finds it alive and done.
class Call : public std::enable_shared_from_this<Call> {
 public:
  Call(asio::io_context& io, std::string_view request,
       std::chrono::milliseconds quiet_period)
      : resolver_(io),
        socket_(io),
        deadline_(io),
        quiet_timer_(io),
        request_(request),
        buffer_(HttpTransport::kReplyCapacity, '\0'),
        quiet_period_(quiet_period) {}

  bool done() const { return done_; }
  int result() const { return result_; }
  std::string_view held() const { return {buffer_.data(), held_}; }

  // Arms the deadline and begins with the address. Exchange thread.
  void Start(const std::string& address, std::uint16_t port,
             std::uint16_t limit_seconds);

  // Ends the exchange (the first call wins) and releases the connection.
  void End(Ending ending);

 private:
  void OnResolved(const std::error_code& error,
                  const tcp::resolver::results_type& results);
  void ConnectNext();
  void OnConnected(const std::error_code& error);
  void OnSent(const std::error_code& error);
  void ReadMore();
  void OnRead(const std::error_code& error, std::size_t count);
  void WatchQuiet(bool token_at_end);

  tcp::resolver resolver_;
  tcp::socket socket_;
  asio::steady_timer deadline_;
  asio::steady_timer quiet_timer_;
  std::string request_;
  std::string buffer_;
  std::size_t held_ = 0;
  std::vector<tcp::endpoint> endpoints_;
  std::size_t next_endpoint_ = 0;
  std::chrono::milliseconds quiet_period_;
  unsigned quiet_generation_ = 0;
  Phase phase_ = Phase::kResolving;
  bool done_ = false;
  int result_ = http_code::kTimeout;
};

void Call::Start(const std::string& address, std::uint16_t port,
                 std::uint16_t limit_seconds) {
  deadline_.expires_after(std::chrono::seconds(limit_seconds));
  deadline_.async_wait([self = shared_from_this()](std::error_code error) {
    if (!error) self->End(Ending::kDeadline);
  });
  if (address.empty()) return End(Ending::kFailed);
  std::error_code error;
  const asio::ip::address literal = asio::ip::make_address(address, error);
  if (!error) {
    endpoints_.emplace_back(literal, port);
    return ConnectNext();
  }
  resolver_.async_resolve(
      address, std::to_string(port), tcp::resolver::numeric_service,
      [self = shared_from_this()](const std::error_code& error,
                                  const tcp::resolver::results_type& results) {
        self->OnResolved(error, results);
      });
}

void Call::End(Ending ending) {
  if (done_) return;
  done_ = true;
  result_ = ResultCode(phase_, ending, held_);
  std::error_code ignored;
  resolver_.cancel();
  deadline_.cancel();
  quiet_timer_.cancel();
  socket_.close(ignored);
}

void Call::OnResolved(const std::error_code& error,
                      const tcp::resolver::results_type& results) {
  if (done_) return;
  if (error) return End(Ending::kFailed);
  for (const auto& entry : results) endpoints_.push_back(entry.endpoint());
  if (endpoints_.empty()) return End(Ending::kFailed);
  ConnectNext();
}

// Tries the next endpoint; when none is left the exchange fails in the phase
// the last attempt reached.
void Call::ConnectNext() {
  if (next_endpoint_ == endpoints_.size()) return End(Ending::kFailed);
  const tcp::endpoint endpoint = endpoints_[next_endpoint_++];
  std::error_code error;
  socket_.close(error);
  phase_ = Phase::kOpening;
  socket_.open(endpoint.protocol(), error);
  if (error) return ConnectNext();
  phase_ = Phase::kConnecting;
  socket_.async_connect(
      endpoint, [self = shared_from_this()](const std::error_code& error) {
        self->OnConnected(error);
      });
}

void Call::OnConnected(const std::error_code& error) {
  if (done_) return;
  if (error) return ConnectNext();
  phase_ = Phase::kSending;
  std::error_code ignored;
  socket_.set_option(tcp::no_delay(true), ignored);
  asio::async_write(
      socket_, asio::buffer(request_),
      [self = shared_from_this()](const std::error_code& error, std::size_t) {
        self->OnSent(error);
      });
}

void Call::OnSent(const std::error_code& error) {
  if (done_) return;
  if (error) return End(Ending::kFailed);
  phase_ = Phase::kReceiving;
  ReadMore();
}

void Call::ReadMore() {
  socket_.async_read_some(
      asio::buffer(buffer_.data() + held_, buffer_.size() - held_),
      [self = shared_from_this()](const std::error_code& error,
                                  std::size_t count) {
        self->OnRead(error, count);
      });
}

void Call::OnRead(const std::error_code& error, std::size_t count) {
  if (done_) return;
  held_ += count;
  if (error == asio::error::eof) return End(Ending::kPeerClosed);
  if (error) return End(Ending::kFailed);
  if (held_ == buffer_.size() || CompleteByContentLength(held())) {
    return End(Ending::kReplyComplete);
  }
  WatchQuiet(EndsWithClosingToken(held()));
  ReadMore();
}

// (Re)starts the quiet wait when the held bytes end with a closing token,
// else drops it. The generation makes a wait that already expired but was
// overtaken by a further byte harmless.
void Call::WatchQuiet(bool token_at_end) {
  ++quiet_generation_;
  if (!token_at_end) {
    quiet_timer_.cancel();
    return;
  }
  quiet_timer_.expires_after(quiet_period_);
  quiet_timer_.async_wait(
      [self = shared_from_this(),
       generation = quiet_generation_](std::error_code error) {
        if (!error && generation == self->quiet_generation_) {
          self->End(Ending::kReplyComplete);
        }
      });
}

}  // namespace

class AsioHttpTransport::Impl {
 public:
  explicit Impl(std::chrono::milliseconds quiet_period)
      : quiet_period_(quiet_period) {}

  int Exchange(const std::string& address, std::uint16_t port,
               std::string_view request, std::string* reply,
               std::uint16_t limit_seconds);
  void Cancel();

 private:
  asio::io_context io_;
  std::chrono::milliseconds quiet_period_;
  std::atomic<bool> stopped_{false};
  std::shared_ptr<Call> current_;  // touched on the exchange thread only
};

// The io_context runs only inside this function, so every handler (the
// posted cancels included) runs on the exchange thread. A cancel posted
// before run_one() starts is still queued and runs first. Asio reports a
// lack of memory or descriptors for its own objects by an exception; it ends
// the call here.
int AsioHttpTransport::Impl::Exchange(const std::string& address,
                                      std::uint16_t port,
                                      std::string_view request,
                                      std::string* reply,
                                      std::uint16_t limit_seconds) {
  reply->clear();
  std::shared_ptr<Call> call;
  try {
    io_.restart();
    call = std::make_shared<Call>(io_, request, quiet_period_);
    current_ = call;
    if (stopped_.load()) {
      call->End(Ending::kStopped);
    } else {
      call->Start(address, port, limit_seconds);
    }
    while (!call->done() && io_.run_one() > 0) {
    }
    call->End(Ending::kStopped);  // no effect unless the loop ran dry
    current_.reset();
    io_.poll();  // lets the aborted operations of this call finish
    reply->assign(call->held());
  } catch (const std::exception&) {
    current_.reset();
    if (!call) return ResultCode(Phase::kOpening, Ending::kNoResources, 0);
    call->End(Ending::kNoResources);
  }
  return call->result();
}

// The flag stops every later exchange; the posted handler ends the one in
// progress. Should the post itself fail (no memory), that exchange still
// ends at its deadline.
void AsioHttpTransport::Impl::Cancel() {
  stopped_.store(true);
  try {
    asio::post(io_, [this] {
      if (current_) current_->End(Ending::kStopped);
    });
  } catch (const std::exception&) {
  }
}

AsioHttpTransport::AsioHttpTransport(std::chrono::milliseconds quiet_period)
    : impl_(std::make_unique<Impl>(quiet_period)) {}

AsioHttpTransport::~AsioHttpTransport() = default;

int AsioHttpTransport::Exchange(const std::string& address, std::uint16_t port,
                                std::string_view request, std::string* reply,
                                std::uint16_t limit_seconds) {
  return impl_->Exchange(address, port, request, reply, limit_seconds);
}

void AsioHttpTransport::Cancel() { impl_->Cancel(); }

}  // namespace hj5
