#include "platform/asio_http_transport.h"

#include <asio.hpp>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/http_reply_framing.h"
#include "platform/system_name_lookup.h"

namespace hj5 {
namespace {

using asio::ip::tcp;

// How far an exchange has come; a failure means something different in
// every phase.
enum class Phase { kResolving, kOpening, kConnecting, kSending, kReceiving };

// Why an exchange ended.
enum class Ending {
  kReplyComplete,  // by Content-Length, closing rule and quiet, or capacity
  kPeerClosed,     // the peer closed the connection in order
  kDeadline,       // the limit for the whole exchange passed
  kStopped,        // Cancel(), during the exchange or before it
  kFailed,         // the system reported an error (or the address is empty)
  kNoResources,    // the system refused memory or descriptors for the call
};

// What the maintainer reads about an exchange that failed, kept beside its
// code.
struct CauseFacts {
  std::string_view target;   // the host name, or the endpoint last tried
  std::string_view failure;  // the system's account of kFailed/kNoResources
  std::size_t held;          // reply bytes received
  std::uint16_t limit_seconds;
};

std::string DeadlineCause(Phase phase, const CauseFacts& facts) {
  std::string doing;
  switch (phase) {
    case Phase::kResolving:
      doing = "looking up " + std::string(facts.target);
      break;
    case Phase::kOpening:
      doing = "opening a socket for " + std::string(facts.target);
      break;
    case Phase::kConnecting:
      doing = "connecting to " + std::string(facts.target);
      break;
    case Phase::kSending:
      doing = "sending to " + std::string(facts.target);
      break;
    case Phase::kReceiving:
      doing = "receiving (" + std::to_string(facts.held) + " bytes held)";
      break;
  }
  return "deadline of " + std::to_string(facts.limit_seconds) +
         " s passed while " + doing;
}

// E.g. "connect 127.0.0.1:8080: Connection refused", "cancelled".
std::string CauseText(Phase phase, Ending ending, const CauseFacts& facts) {
  switch (ending) {
    case Ending::kStopped:
      return "cancelled";
    case Ending::kNoResources:
      return "no resources: " + std::string(facts.failure);
    case Ending::kFailed:
      return std::string(facts.failure);
    case Ending::kPeerClosed:
      return "peer closed with nothing received";
    case Ending::kDeadline:
      return DeadlineCause(phase, facts);
    case Ending::kReplyComplete:
      break;
  }
  return std::string();
}

// The code of an exchange's end, by phase and ending:
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

// The one place where the end of an exchange becomes what the caller gets:
// ok, or the code of the table above with its cause. Should even the cause
// find no memory, the code still tells.
Status EndStatus(Phase phase, Ending ending, const CauseFacts& facts) noexcept {
  const int code = ResultCode(phase, ending, facts.held);
  if (code == http_code::kOk) return Status();
  try {
    return Status::Failure(code, CauseText(phase, ending, facts));
  } catch (const std::exception&) {
    return Status::Failure(code, std::string());
  }
}

// "127.0.0.1:8080", "[::1]:8080".
std::string EndpointText(const tcp::endpoint& endpoint) {
  const std::string address = endpoint.address().to_string();
  const std::string port = std::to_string(endpoint.port());
  if (endpoint.address().is_v6()) return "[" + address + "]:" + port;
  return address + ":" + port;
}

// One exchange: the sockets, timers, lookup and buffer it owns. Every
// handler holds a shared pointer to it, so a handler that runs after the
// exchange ended finds it alive and done. The lookup's answer arrives
// through a weak pointer: it never keeps the exchange alive.
class Call : public std::enable_shared_from_this<Call> {
 public:
  Call(asio::io_context& io, const AsioHttpTransportOptions& options,
       std::string_view request)
      : io_(io),
        options_(options),
        socket_(io),
        deadline_(io),
        quiet_timer_(io),
        request_(request),
        buffer_(HttpTransport::kReplyCapacity, '\0') {}

  bool done() const { return done_; }
  // Called by End(), on the thread that ends the exchange.
  void OnEnd(std::function<void()> ended) { ended_ = std::move(ended); }
  Status TakeStatus() { return std::move(status_); }
  std::string_view held() const { return {buffer_.data(), held_}; }

  // Arms the deadline and begins with the address. Exchange thread.
  void Start(const std::string& address, std::uint16_t port,
             std::uint16_t limit_seconds);

  // Ends the exchange (the first call wins), abandons a pending lookup and
  // releases the connection. `failure` is the system's account of a
  // kFailed or kNoResources ending. Never throws.
  void End(Ending ending, std::string_view failure = {});

 private:
  void LookUp();
  void OnLookedUp(LookupResult result);
  void ConnectNext();
  void OnConnected(const std::error_code& error);
  void OnSent(const std::error_code& error);
  void ReadMore();
  void OnRead(const std::error_code& error, std::size_t count);
  void WatchQuiet(bool closed);

  asio::io_context& io_;
  const AsioHttpTransportOptions& options_;
  tcp::socket socket_;
  asio::steady_timer deadline_;
  asio::steady_timer quiet_timer_;
  std::string request_;
  std::string buffer_;
  std::size_t held_ = 0;
  std::string host_;
  std::uint16_t port_ = 0;
  std::uint16_t limit_seconds_ = 0;
  std::vector<tcp::endpoint> endpoints_;
  std::size_t next_endpoint_ = 0;
  std::string target_;        // the endpoint being tried
  std::string last_failure_;  // why the last endpoint tried failed
  unsigned quiet_generation_ = 0;
  Phase phase_ = Phase::kResolving;
  bool done_ = false;
  Status status_;
  std::unique_ptr<PendingLookup> pending_;
  std::function<void()> ended_;
};

void Call::Start(const std::string& address, std::uint16_t port,
                 std::uint16_t limit_seconds) {
  host_ = address;
  port_ = port;
  limit_seconds_ = limit_seconds;
  deadline_.expires_after(std::chrono::seconds(limit_seconds));
  deadline_.async_wait([self = shared_from_this()](std::error_code error) {
    if (!error) self->End(Ending::kDeadline);
  });
  if (address.empty()) return End(Ending::kFailed, "empty address");
  std::error_code error;
  const asio::ip::address literal = asio::ip::make_address(address, error);
  if (error) return LookUp();
  endpoints_.emplace_back(literal, port);
  ConnectNext();
}

void Call::End(Ending ending, std::string_view failure) {
  if (done_) return;
  done_ = true;
  pending_.reset();
  std::error_code ignored;
  deadline_.cancel();
  quiet_timer_.cancel();
  socket_.close(ignored);
  const std::string_view target = phase_ == Phase::kResolving ? host_ : target_;
  status_ = EndStatus(phase_, ending, {target, failure, held_, limit_seconds_});
  if (ended_) ended_();
}

// The answer may come on any thread: it is posted to the exchange's
// io_context. Should the post fail (no memory), the exchange ends at its
// deadline.
void Call::LookUp() {
  asio::io_context& io = io_;
  pending_ = options_.lookup->Start(
      host_, [&io, call = weak_from_this()](LookupResult result) {
        try {
          asio::post(io, [call, result = std::move(result)]() mutable {
            if (const auto self = call.lock()) {
              self->OnLookedUp(std::move(result));
            }
          });
        } catch (const std::exception&) {
        }
      });
}

void Call::OnLookedUp(LookupResult result) {
  if (done_) return;
  pending_.reset();
  const std::string lookup = "lookup " + host_ + ": ";
  if (result.addresses.empty()) {
    return End(Ending::kFailed,
               lookup + (result.cause.empty() ? "no address" : result.cause));
  }
  for (const std::string& text : result.addresses) {
    std::error_code error;
    const asio::ip::address address = asio::ip::make_address(text, error);
    if (!error) endpoints_.emplace_back(address, port_);
  }
  if (endpoints_.empty()) {
    return End(Ending::kFailed, lookup + "no usable address");
  }
  ConnectNext();
}

// Tries the next endpoint; when none is left the exchange fails in the phase
// the last attempt reached.
void Call::ConnectNext() {
  if (next_endpoint_ == endpoints_.size()) {
    return End(Ending::kFailed, last_failure_);
  }
  const tcp::endpoint endpoint = endpoints_[next_endpoint_++];
  target_ = EndpointText(endpoint);
  std::error_code error;
  socket_.close(error);
  phase_ = Phase::kOpening;
  socket_.open(endpoint.protocol(), error);
  if (error) {
    last_failure_ = "open socket for " + target_ + ": " + error.message();
    return ConnectNext();
  }
  phase_ = Phase::kConnecting;
  socket_.async_connect(
      endpoint, [self = shared_from_this()](const std::error_code& error) {
        self->OnConnected(error);
      });
}

void Call::OnConnected(const std::error_code& error) {
  if (done_) return;
  if (error) {
    last_failure_ = "connect " + target_ + ": " + error.message();
    return ConnectNext();
  }
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
  if (error) return End(Ending::kFailed, "send: " + error.message());
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
  if (error) return End(Ending::kFailed, "receive: " + error.message());
  const LengthFraming framing = FramingByContentLength(held());
  if (held_ == buffer_.size() || framing == LengthFraming::kMet) {
    return End(Ending::kReplyComplete);
  }
  // A reply whose Content-Length promises more bytes ends only when they
  // have come (or by the rules that bound every exchange): a closing token
  // in its first part is no end.
  WatchQuiet(framing == LengthFraming::kNone && options_.reply_closed &&
             options_.reply_closed(held()));
  ReadMore();
}

// (Re)starts the quiet wait when the held bytes close the reply, else drops
// it. The generation makes a wait that already expired but was overtaken by
// a further byte harmless.
void Call::WatchQuiet(bool closed) {
  ++quiet_generation_;
  if (!closed) {
    quiet_timer_.cancel();
    return;
  }
  quiet_timer_.expires_after(options_.quiet_period);
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
  explicit Impl(AsioHttpTransportOptions options);

  Status Exchange(const std::string& address, std::uint16_t port,
                  std::string_view request, std::string* reply,
                  std::uint16_t limit_seconds);
  void Cancel();

 private:
  // An exchange on the loop the transports share: started there, waited
  // for here.
  Status ExchangeOnLoop(const std::string& address, std::uint16_t port,
                        std::string_view request, std::string* reply,
                        std::uint16_t limit_seconds);

  // What a cancel posted to a shared loop reaches, however long after the
  // transport has gone: the exchange in progress.
  struct Current {
    std::mutex mutex;
    std::shared_ptr<Call> call;  // guarded by mutex
  };

  std::unique_ptr<NameLookup> own_lookup_;
  AsioHttpTransportOptions options_;        // its lookup is never null
  std::optional<asio::io_context> own_io_;  // without a shared loop
  asio::io_context& io_;
  std::atomic<bool> stopped_{false};
  std::shared_ptr<Call> current_;  // own loop: the exchange thread only
  const std::shared_ptr<Current> shared_ = std::make_shared<Current>();
};

AsioHttpTransport::Impl::Impl(AsioHttpTransportOptions options)
    : options_(std::move(options)),
      own_io_(options_.loop ? std::nullopt
                            : std::make_optional<asio::io_context>()),
      io_(options_.loop ? options_.loop->context() : *own_io_) {
  if (options_.lookup == nullptr) {
    own_lookup_ = std::make_unique<SystemNameLookup>();
    options_.lookup = own_lookup_.get();
  }
}

// The io_context runs only inside this function, so every handler (the
// posted cancels and lookup answers included) runs on the exchange thread.
// A cancel posted before run_one() starts is still queued and runs first.
// Asio reports a lack of memory or descriptors for its own objects by an
// exception; it ends the call here.
Status AsioHttpTransport::Impl::Exchange(const std::string& address,
                                         std::uint16_t port,
                                         std::string_view request,
                                         std::string* reply,
                                         std::uint16_t limit_seconds) {
  reply->clear();
  if (options_.loop)
    return ExchangeOnLoop(address, port, request, reply, limit_seconds);
  std::shared_ptr<Call> call;
  try {
    io_.restart();
    call = std::make_shared<Call>(io_, options_, request);
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
  } catch (const std::exception& error) {
    current_.reset();
    if (!call) {
      return EndStatus(Phase::kOpening, Ending::kNoResources,
                       {{}, error.what(), 0, 0});
    }
    call->End(Ending::kNoResources, error.what());
  }
  return call->TakeStatus();
}

// Every handler of the call runs on the loop's one thread; this thread
// only starts it there and waits for its end. Its descriptors live only
// while it does.
Status AsioHttpTransport::Impl::ExchangeOnLoop(const std::string& address,
                                               std::uint16_t port,
                                               std::string_view request,
                                               std::string* reply,
                                               std::uint16_t limit_seconds) {
  struct Ended {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
  };
  auto ended = std::make_shared<Ended>();
  std::shared_ptr<Call> call;
  try {
    call = std::make_shared<Call>(io_, options_, request);
    call->OnEnd([ended] {
      {
        std::lock_guard lock(ended->mutex);
        ended->done = true;
      }
      ended->changed.notify_all();
    });
    {
      std::lock_guard lock(shared_->mutex);
      shared_->call = call;
    }
    asio::post(io_,
               [call, address, port, limit_seconds, stopped = stopped_.load()] {
                 if (stopped) return call->End(Ending::kStopped);
                 try {
                   call->Start(address, port, limit_seconds);
                 } catch (const std::exception& error) {
                   call->End(Ending::kNoResources, error.what());
                 }
               });
  } catch (const std::exception& error) {
    std::lock_guard lock(shared_->mutex);
    shared_->call.reset();
    return EndStatus(Phase::kOpening, Ending::kNoResources,
                     {{}, error.what(), 0, 0});
  }
  {
    std::unique_lock lock(ended->mutex);
    ended->changed.wait(lock, [&] { return ended->done; });
  }
  {
    std::lock_guard lock(shared_->mutex);
    shared_->call.reset();
  }
  reply->assign(call->held());
  return call->TakeStatus();
}

// The flag stops every later exchange; the posted handler ends the one in
// progress. Should the post itself fail (no memory), that exchange still
// ends at its deadline.
void AsioHttpTransport::Impl::Cancel() {
  stopped_.store(true);
  try {
    if (options_.loop) {
      asio::post(io_, [current = shared_] {
        std::lock_guard lock(current->mutex);
        if (current->call) current->call->End(Ending::kStopped);
      });
      return;
    }
    asio::post(io_, [this] {
      if (current_) current_->End(Ending::kStopped);
    });
  } catch (const std::exception&) {
  }
}

// One io_context, run by a thread of its own until the loop goes.
class AsioEventLoop::Impl {
 public:
  Impl() : work_(asio::make_work_guard(io_)), thread_([this] { io_.run(); }) {}
  ~Impl() {
    work_.reset();
    io_.stop();
    thread_.join();
  }
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
};

AsioEventLoop::AsioEventLoop() : impl_(std::make_unique<Impl>()) {}
AsioEventLoop::~AsioEventLoop() = default;
asio::io_context& AsioEventLoop::context() { return impl_->io_; }

AsioHttpTransport::AsioHttpTransport()
    : AsioHttpTransport(AsioHttpTransportOptions{}) {}

AsioHttpTransport::AsioHttpTransport(AsioHttpTransportOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

AsioHttpTransport::~AsioHttpTransport() = default;

Status AsioHttpTransport::Exchange(const std::string& address,
                                   std::uint16_t port, std::string_view request,
                                   std::string* reply,
                                   std::uint16_t limit_seconds) {
  return impl_->Exchange(address, port, request, reply, limit_seconds);
}

void AsioHttpTransport::Cancel() { impl_->Cancel(); }

}  // namespace hj5
