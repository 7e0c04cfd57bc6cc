#include "platform/asio_http_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "device/reply_token.h"
#include "platform/http_reply_framing.h"

namespace hj5 {
namespace {

using std::chrono::milliseconds;
using Ticks = std::chrono::steady_clock;

// A request as the device channel composes it: two spaces before the
// version, no Host, the Probe body.
constexpr std::string_view kRequest =
    "POST /system.wcr  HTTP/1.1\r\n"
    "Content-Length: 2\r\n"
    "Connection: Keep-Alive\r\n"
    "Cache-Control: no-cache\r\n\r\n"
    "\r\n";

// Upper bound for any wait of a test server, so that no thread outlives a
// broken test for long.
constexpr milliseconds kServerPatience{5000};

// ---------------------------------------------------------------------------
// Socket helpers for the loopback servers (plain POSIX sockets).

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Waits up to `limit` for `fd` to become readable.
bool Readable(int fd, milliseconds limit) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(limit.count())) == 1;
}

// Reads until `count` bytes arrived, the peer closed, or `limit` passed.
std::string ReadBytes(int fd, std::size_t count, milliseconds limit) {
  std::string bytes;
  const auto end = Ticks::now() + limit;
  while (bytes.size() < count && Ticks::now() < end) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(end - Ticks::now());
    if (!Readable(fd, left)) break;
    char chunk[4096];
    const std::size_t want = std::min(sizeof chunk, count - bytes.size());
    const ssize_t got = ::recv(fd, chunk, want, 0);
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

// Waits until the peer closes or resets the connection, at most `limit`;
// whatever arrives meanwhile is dropped. True when the peer went away.
bool WaitForPeerClose(int fd, milliseconds limit) {
  const auto end = Ticks::now() + limit;
  while (Ticks::now() < end) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(end - Ticks::now());
    if (!Readable(fd, left)) return false;
    char chunk[4096];
    if (::recv(fd, chunk, sizeof chunk, 0) <= 0) return true;
  }
  return false;
}

// Closes so that the peer sees a reset rather than an orderly end.
void CloseWithReset(int fd) {
  const linger abort_on_close{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close,
               sizeof abort_on_close);
  ::close(fd);
}

// A socket bound to the loopback address of `family`, port chosen by the
// OS; -1 when that family has no loopback here.
int BindLoopback(int family, std::uint16_t* port) {
  const int fd = ::socket(family, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_storage storage{};
  socklen_t size = 0;
  if (family == AF_INET6) {
    auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
    address->sin6_family = AF_INET6;
    address->sin6_addr = in6addr_loopback;
    size = sizeof *address;
  } else {
    auto* address = reinterpret_cast<sockaddr_in*>(&storage);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size = sizeof *address;
  }
  auto* generic = reinterpret_cast<sockaddr*>(&storage);
  if (::bind(fd, generic, size) != 0 || ::getsockname(fd, generic, &size)) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(family == AF_INET6
                    ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                    : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  return fd;
}

// What a test server does with its one connection once the request is in.
// It may close `fd` itself and set it to -1.
using Script = std::function<void(int& fd)>;

// A server for a single connection on loopback, on a port the OS picks. It
// accepts one connection, reads `request_size` bytes, then plays its script
// on its own thread. Every wait is bounded by kServerPatience.
class OneShotServer {
 public:
  explicit OneShotServer(Script script,
                         std::size_t request_size = kRequest.size(),
                         int family = AF_INET)
      : listener_(BindLoopback(family, &port_)) {
    if (listener_ < 0 || ::listen(listener_, 4) != 0) return;
    thread_ = std::thread([this, script = std::move(script), request_size] {
      Serve(script, request_size);
    });
  }
  ~OneShotServer() {
    Join();
    if (listener_ >= 0) ::close(listener_);
  }

  bool listening() const { return thread_.joinable() || joined_; }
  std::uint16_t port() const { return port_; }

  // Waits for the script to end; afterwards request() may be read.
  void Join() {
    if (thread_.joinable()) {
      thread_.join();
      joined_ = true;
    }
  }
  const std::string& request() const { return request_; }

 private:
  void Serve(const Script& script, std::size_t request_size) {
    if (!Readable(listener_, kServerPatience)) return;
    int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    request_ = ReadBytes(fd, request_size, kServerPatience);
    script(fd);
    if (fd >= 0) ::close(fd);
  }

  std::uint16_t port_ = 0;
  int listener_ = -1;
  std::thread thread_;
  bool joined_ = false;
  std::string request_;
};

// Scripts.
Script Silent() {
  return [](int& fd) { WaitForPeerClose(fd, kServerPatience); };
}
Script ReplyAndHold(std::string reply) {
  return [reply](int& fd) {
    SendAll(fd, reply);
    WaitForPeerClose(fd, kServerPatience);
  };
}
Script ReplyAndClose(std::string reply) {
  return [reply](int& fd) { SendAll(fd, reply); };
}
// Sends the parts with `pause` between them, then holds the line.
Script ReplyInParts(std::vector<std::string> parts, milliseconds pause) {
  return [parts, pause](int& fd) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(pause);
      if (!SendAll(fd, parts[i])) return;
    }
    WaitForPeerClose(fd, kServerPatience);
  };
}

std::string ReplyWithLength(std::string_view body,
                            std::string_view length_header) {
  std::ostringstream reply;
  reply << "HTTP/1.1 200 OK\r\n"
        << length_header << body.size() << "\r\n"
        << "Connection: Keep-Alive\r\n\r\n"
        << body;
  return reply.str();
}

constexpr std::string_view kHeadWithoutLength =
    "HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\n\r\n";

struct Outcome {
  int code;  // 0 for ok
  std::string cause;
  std::string reply;
  milliseconds elapsed;
};

Outcome ExchangeWith(AsioHttpTransport& transport, const std::string& address,
                     std::uint16_t port, std::uint16_t limit_seconds,
                     std::string_view request = kRequest) {
  std::string reply = "left over";
  const auto start = Ticks::now();
  const Status status =
      transport.Exchange(address, port, request, &reply, limit_seconds);
  const auto elapsed =
      std::chrono::duration_cast<milliseconds>(Ticks::now() - start);
  return {status.code(), status.cause(), reply, elapsed};
}

// The options the product gives the transport for the device: its closing
// token ends a reply after `quiet`.
AsioHttpTransportOptions DeviceOptions(
    milliseconds quiet = AsioHttpTransportOptions::kDefaultQuietPeriod) {
  AsioHttpTransportOptions options;
  options.quiet_period = quiet;
  options.reply_closed = EndsWithClosingToken;
  return options;
}

// The system's text for an errno value, as the causes quote it.
std::string SystemText(int error) {
  return std::system_category().message(error);
}

// Limits of the tests: a deadline test uses kShortLimit; one that must end
// by another rule uses kLongLimit so that ending at the deadline shows.
constexpr std::uint16_t kShortLimit = 1;
constexpr std::uint16_t kLongLimit = 10;
// Bounds around the 1 s deadline: never early, never much later.
constexpr milliseconds kDeadlineEarliest{950};
constexpr milliseconds kDeadlineLatest{2000};
// "At once": far below any limit or quiet period the tests use.
constexpr milliseconds kPrompt{1000};

// ---------------------------------------------------------------------------
// Reply framing rules.

TEST(FramingByContentLengthTest, CountsTheBodyAfterTheEmptyLine) {
  const std::string reply = ReplyWithLength("abcde", "Content-Length: ");
  EXPECT_EQ(FramingByContentLength(reply), LengthFraming::kMet);
  EXPECT_EQ(FramingByContentLength(
                std::string_view(reply).substr(0, reply.size() - 1)),
            LengthFraming::kShort);
  EXPECT_EQ(FramingByContentLength(
                "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n"),
            LengthFraming::kMet);
}

TEST(FramingByContentLengthTest, AcceptsAnyCaseAndBlanksAroundTheColon) {
  EXPECT_EQ(FramingByContentLength(ReplyWithLength("ab", "content-LENGTH:")),
            LengthFraming::kMet);
  EXPECT_EQ(
      FramingByContentLength(ReplyWithLength("ab", "Content-Length \t:  ")),
      LengthFraming::kMet);
}

TEST(FramingByContentLengthTest, NeedsAWholeHeaderBlockAndAValidHeader) {
  for (const char* held : {
           "HTTP/1.1 200 OK\r\nContent-Length: 0",
           "HTTP/1.1 200 OK\r\n\r\nHJ5_Ret(0)",
           "HTTP/1.1 200 OK\r\n\r\nContent-Length: 0\r\n\r\n",
           "HTTP/1.1 200 OK\r\nContent-Length: 2x\r\n\r\nab",
           "HTTP/1.1 200 OK\r\nX-Content-Length: 0\r\n\r\n",
       }) {
    EXPECT_EQ(FramingByContentLength(held), LengthFraming::kNone) << held;
  }
  EXPECT_EQ(
      FramingByContentLength(
          "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n"),
      LengthFraming::kShort);
}

// ---------------------------------------------------------------------------
// Connecting and addresses.

TEST(AsioHttpTransportTest, RefusedConnectionFailsFast) {
  std::uint16_t port = 0;
  const int fd = BindLoopback(AF_INET, &port);
  ASSERT_GE(fd, 0);
  ::close(fd);  // nobody listens on the port now

  AsioHttpTransport transport;
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", port, kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kConnection);
  EXPECT_EQ(outcome.reply, "");
  EXPECT_LT(outcome.elapsed, kPrompt);
  EXPECT_EQ(outcome.cause, "connect 127.0.0.1:" + std::to_string(port) + ": " +
                               SystemText(ECONNREFUSED));
}

// Only the empty address: an unknown name would be asked of the network's
// name server, which tests never contact.
TEST(AsioHttpTransportTest, EmptyAddressIsANetworkParameterError) {
  AsioHttpTransport transport;
  const Outcome outcome = ExchangeWith(transport, "", 80, kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kNetworkParameter);
  EXPECT_LT(outcome.elapsed, kPrompt);
  EXPECT_EQ(outcome.cause, "empty address");
}

// A listener that nobody accepts from: the kernel completes connections into
// its backlog, so a client connects, sends and then hears nothing.
class Backlog {
 public:
  Backlog() : fd_(BindLoopback(AF_INET, &port_)) {
    if (fd_ >= 0) ::listen(fd_, 64);
  }
  ~Backlog() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  std::uint16_t port() const { return port_; }
  // Whether a connection is waiting to be accepted.
  bool HasCaller() const { return Readable(fd_, milliseconds(200)); }

 private:
  std::uint16_t port_ = 0;
  int fd_;
};

TEST(AsioHttpTransportTest, NoDescriptorForTheSocketIsASocketError) {
  AsioHttpTransport transport;
  {
    // A first exchange sets up what the transport keeps between exchanges.
    OneShotServer server(ReplyAndClose("HJ5_Ret(0)"));
    ASSERT_TRUE(server.listening());
    ASSERT_EQ(ExchangeWith(transport, "127.0.0.1", server.port(), 5).code,
              http_code::kOk);
  }
  Backlog listener;
  ASSERT_TRUE(listener.ok());
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int lowest_free = ::dup(0);
  ASSERT_GE(lowest_free, 0);
  ::close(lowest_free);
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", listener.port(), kLongLimit);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(outcome.code, http_code::kSocket);
  EXPECT_LT(outcome.elapsed, kPrompt);
  EXPECT_EQ(outcome.cause,
            "open socket for 127.0.0.1:" + std::to_string(listener.port()) +
                ": " + SystemText(EMFILE));
}

// True when /etc/hosts maps "localhost", so resolving it stays on this
// machine.
bool LocalhostInHostsFile() {
  std::ifstream hosts("/etc/hosts");
  std::string line;
  while (std::getline(hosts, line)) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string address, name;
    fields >> address;
    while (fields >> name) {
      if (name == "localhost" && address == "127.0.0.1") return true;
    }
  }
  return false;
}

// The default lookup is the system's; "localhost" is answered from
// /etc/hosts.
TEST(AsioHttpTransportTest, ResolvesAHostNameAndAnIpv6Literal) {
  AsioHttpTransport transport;
  if (LocalhostInHostsFile()) {
    OneShotServer server(ReplyAndClose("by name HJ5_Ret(0)"));
    ASSERT_TRUE(server.listening());
    const Outcome outcome =
        ExchangeWith(transport, "localhost", server.port(), 5);
    EXPECT_EQ(outcome.code, http_code::kOk);
    EXPECT_EQ(outcome.reply, "by name HJ5_Ret(0)");
  }
  OneShotServer server6(ReplyAndClose("over v6 HJ5_Ret(0)"), kRequest.size(),
                        AF_INET6);
  if (!server6.listening()) GTEST_SKIP() << "no IPv6 loopback here";
  const Outcome outcome = ExchangeWith(transport, "::1", server6.port(), 5);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, "over v6 HJ5_Ret(0)");
}

// ---------------------------------------------------------------------------
// Name lookup through the seam.

// A name no test asks the system about.
constexpr char kDeviceName[] = "device.test";

// A lookup that answers only when the test says so, from any thread, and
// keeps the contract: once its PendingLookup is gone, an answer is dropped.
class HandLookup final : public NameLookup {
 public:
  std::unique_ptr<PendingLookup> Start(const std::string& host,
                                       Done done) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->host = host;
    state_->done = std::move(done);
    state_->released = false;
    return std::make_unique<Pending>(state_);
  }

  // Delivers `result` to the lookup in progress; false when there is none
  // (not started yet, or abandoned).
  bool Answer(LookupResult result) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->done) return false;
    Done done = std::move(state_->done);
    state_->done = nullptr;
    done(std::move(result));
    return true;
  }

  // Whether the transport let go of the last lookup it started.
  bool released() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->released;
  }
  std::string host() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->host;
  }

 private:
  struct State {
    mutable std::mutex mutex;
    Done done;
    std::string host;
    bool released = false;
  };
  class Pending final : public PendingLookup {
   public:
    explicit Pending(std::shared_ptr<State> state) : state_(std::move(state)) {}
    ~Pending() override {
      Done dropped;
      std::lock_guard<std::mutex> lock(state_->mutex);
      dropped.swap(state_->done);
      state_->released = true;
    }

   private:
    std::shared_ptr<State> state_;
  };

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

AsioHttpTransportOptions WithLookup(NameLookup* lookup) {
  AsioHttpTransportOptions options = DeviceOptions();
  options.lookup = lookup;
  return options;
}

// Answers from its own thread as soon as the lookup has started, until
// Stop(); bounded by kServerPatience.
class Answerer {
 public:
  Answerer(HandLookup& lookup, LookupResult result)
      : thread_([this, &lookup, result] {
          const auto end = Ticks::now() + kServerPatience;
          while (!stop_.load() && Ticks::now() < end) {
            if (lookup.Answer(result)) return;
            std::this_thread::sleep_for(milliseconds(1));
          }
        }) {}
  ~Answerer() { Stop(); }
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Destroys the transport; how long that took.
milliseconds TimeToDestroy(std::unique_ptr<AsioHttpTransport>& transport) {
  const auto start = Ticks::now();
  transport.reset();
  return std::chrono::duration_cast<milliseconds>(Ticks::now() - start);
}

TEST(AsioHttpTransportLookupTest, CancelEndsAnExchangeWhoseLookupNeverAnswers) {
  HandLookup lookup;
  auto transport = std::make_unique<AsioHttpTransport>(WithLookup(&lookup));
  std::thread canceller([&transport] {
    std::this_thread::sleep_for(milliseconds(200));
    transport->Cancel();
  });
  const Outcome outcome = ExchangeWith(*transport, kDeviceName, 80, kLongLimit);
  canceller.join();
  EXPECT_EQ(outcome.code, http_code::kTimeout);
  EXPECT_LT(outcome.elapsed, milliseconds(3000));
  EXPECT_EQ(lookup.host(), kDeviceName);
  EXPECT_TRUE(lookup.released());
  EXPECT_EQ(outcome.cause, "cancelled");
  EXPECT_LT(TimeToDestroy(transport), kPrompt);
  EXPECT_FALSE(lookup.Answer({{"127.0.0.1"}, ""}));
}

TEST(AsioHttpTransportLookupTest, DeadlineEndsALookupThatNeverAnswers) {
  HandLookup lookup;
  auto transport = std::make_unique<AsioHttpTransport>(WithLookup(&lookup));
  const Outcome outcome =
      ExchangeWith(*transport, kDeviceName, 80, kShortLimit);
  EXPECT_EQ(outcome.code, http_code::kNetworkParameter);
  EXPECT_GE(outcome.elapsed, kDeadlineEarliest);
  EXPECT_LT(outcome.elapsed, kDeadlineLatest);
  EXPECT_TRUE(lookup.released());
  EXPECT_EQ(outcome.cause,
            "deadline of 1 s passed while looking up device.test");

  // The answer comes too late: it is dropped, and the next exchange goes
  // its own way.
  EXPECT_FALSE(lookup.Answer({{"127.0.0.1"}, ""}));
  OneShotServer server(ReplyAndClose("HJ5_Ret(0)"));
  ASSERT_TRUE(server.listening());
  Answerer answerer(lookup, {{"127.0.0.1"}, ""});
  const Outcome next =
      ExchangeWith(*transport, kDeviceName, server.port(), kLongLimit);
  answerer.Stop();
  EXPECT_EQ(next.code, http_code::kOk);
  EXPECT_EQ(next.reply, "HJ5_Ret(0)");
  EXPECT_LT(TimeToDestroy(transport), kPrompt);
}

// The addresses are tried in the order given; what is no address is
// skipped.
TEST(AsioHttpTransportLookupTest, TriesTheAnsweredAddressesInTurn) {
  OneShotServer server(ReplyAndClose("HJ5_Ret(0)"));
  ASSERT_TRUE(server.listening());
  HandLookup lookup;
  AsioHttpTransport transport(WithLookup(&lookup));
  // Nothing listens on 127.0.0.2 at the port: refused.
  Answerer answerer(lookup, {{"not-an-address", "127.0.0.2", "127.0.0.1"}, ""});
  const Outcome outcome =
      ExchangeWith(transport, kDeviceName, server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, "HJ5_Ret(0)");
  EXPECT_LT(outcome.elapsed, kPrompt);
}

TEST(AsioHttpTransportLookupTest, FailedLookupsAreNetworkParameterErrors) {
  const struct {
    LookupResult answer;
    std::string cause;
  } cases[] = {
      {{{}, "Name or service not known"},
       "lookup device.test: Name or service not known"},
      {{{"999.1.1.1", ""}, ""}, "lookup device.test: no usable address"},
  };
  for (const auto& [answer, cause] : cases) {
    SCOPED_TRACE(cause);
    HandLookup lookup;
    AsioHttpTransport transport(WithLookup(&lookup));
    Answerer answerer(lookup, answer);
    const Outcome outcome =
        ExchangeWith(transport, kDeviceName, 80, kLongLimit);
    EXPECT_EQ(outcome.code, http_code::kNetworkParameter);
    EXPECT_LT(outcome.elapsed, kPrompt);
    EXPECT_EQ(outcome.cause, cause);
  }
}

// An answer from another thread racing a cancel, at every point of the
// exchange: it still ends promptly with kTimeout.
TEST(AsioHttpTransportLookupTest, AnswerRacingACancelIsHarmless) {
  Backlog listener;
  ASSERT_TRUE(listener.ok());
  const auto start = Ticks::now();
  for (int round = 0; round < 20; ++round) {
    HandLookup lookup;
    AsioHttpTransport transport(WithLookup(&lookup));
    Answerer answerer(lookup, {{"127.0.0.1"}, ""});
    std::thread canceller([&transport, round] {
      for (int spin = 0; spin < round * 200; ++spin) std::this_thread::yield();
      transport.Cancel();
    });
    const Outcome outcome =
        ExchangeWith(transport, kDeviceName, listener.port(), kLongLimit);
    canceller.join();
    answerer.Stop();
    EXPECT_EQ(outcome.code, http_code::kTimeout) << "round " << round;
    EXPECT_TRUE(lookup.released() || lookup.host().empty()) << round;
  }
  EXPECT_LT(Ticks::now() - start, std::chrono::seconds(kLongLimit));
}

TEST(AsioHttpTransportTest, SendsTheRequestByteForByte) {
  // Two spaces before the version, "&" unescaped, a high byte and a NUL.
  std::string request =
      "POST /system.wcr  HTTP/1.1\r\nContent-Length: 27\r\n"
      "Connection: Keep-Alive\r\nCache-Control: no-cache\r\n\r\n"
      "ID=a&b&PW=p\xE9w&MODE=4&ACT=";
  request.push_back('\0');
  std::string after_request;  // anything the client sends beyond it
  OneShotServer server(
      [&after_request](int& fd) {
        SendAll(fd, "HJ5_Ret(0)");
        after_request = ReadBytes(fd, 1, milliseconds(300));
      },
      request.size());
  ASSERT_TRUE(server.listening());

  AsioHttpTransport transport;
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), 5, request);
  server.Join();
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(server.request(), request);
  EXPECT_EQ(after_request, "");
}

// ---------------------------------------------------------------------------
// The end of a reply.

TEST(AsioHttpTransportTest, KeepAliveReplyWithLengthReturnsAtOnce) {
  // The header and the body come apart: the header alone must not end it.
  const std::string body = "<html>HJ5_Ret(0)</html>";
  const std::string reply = ReplyWithLength(body, "content-length: ");
  OneShotServer server(
      ReplyInParts({reply.substr(0, reply.size() - body.size()),
                    reply.substr(reply.size() - body.size())},
                   milliseconds(100)));
  ASSERT_TRUE(server.listening());

  // A quiet period longer than kPrompt shows that the length ended it.
  AsioHttpTransport transport(DeviceOptions(milliseconds(3000)));
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, reply);
  EXPECT_LT(outcome.elapsed, kPrompt);
}

// A device whose first segment happens to end with a token and whose rest
// comes after a pause longer than the quiet period: the reply is what its
// Content-Length names, not its first part (which would read as success).
TEST(AsioHttpTransportTest, ALengthThatPromisesMoreOutlastsAClosingToken) {
  const std::string first = "user9=HJ5M\r\nHJ5_Ret(0)";
  const std::string body = first + "\r\nmore\r\nHJ5_Ret(-5)";
  const std::string reply = ReplyWithLength(body, "Content-Length: ");
  const std::size_t cut = reply.size() - body.size() + first.size();
  OneShotServer server(ReplyInParts({reply.substr(0, cut), reply.substr(cut)},
                                    milliseconds(300)));
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport(DeviceOptions());  // the product's 200 ms
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, reply);
}

TEST(AsioHttpTransportTest, KeepAliveReplyEndingInTokenReturnsAfterQuiet) {
  const std::string reply = std::string(kHeadWithoutLength) + "ok HJ5_Ret(-1)";
  OneShotServer server(ReplyAndHold(reply));
  ASSERT_TRUE(server.listening());

  AsioHttpTransport transport(DeviceOptions());  // the product's 200 ms
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, reply);
  EXPECT_GE(outcome.elapsed, milliseconds(190));
  EXPECT_LT(outcome.elapsed, milliseconds(2000));
}

TEST(AsioHttpTransportTest, ByteAfterTokenRestartsTheQuietWait) {
  const std::string head = std::string(kHeadWithoutLength) + "HJ5_Ret(0)";
  const milliseconds quiet(600);
  const milliseconds pause(100);  // well inside the quiet period
  {
    // A second token: the wait starts again from the last byte.
    OneShotServer server(ReplyInParts({head, " HJ5_Ret(5)\r\n"}, pause));
    ASSERT_TRUE(server.listening());
    AsioHttpTransport transport(DeviceOptions(quiet));
    const Outcome outcome =
        ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
    EXPECT_EQ(outcome.code, http_code::kOk);
    EXPECT_EQ(outcome.reply, head + " HJ5_Ret(5)\r\n");
    EXPECT_GE(outcome.elapsed, pause + quiet - milliseconds(10));
  }
  {
    // Text after the token: no longer a closing token, so the line is held
    // open until the deadline.
    OneShotServer server(ReplyInParts({head, " trailing"}, pause));
    ASSERT_TRUE(server.listening());
    AsioHttpTransport transport(DeviceOptions(quiet));
    const Outcome outcome =
        ExchangeWith(transport, "127.0.0.1", server.port(), kShortLimit);
    EXPECT_EQ(outcome.code, http_code::kTimeout);
    EXPECT_EQ(outcome.reply, head + " trailing");
    EXPECT_GE(outcome.elapsed, kDeadlineEarliest);
  }
  {
    // Without a closing rule the token is text like any other.
    OneShotServer server(ReplyAndHold(head));
    ASSERT_TRUE(server.listening());
    AsioHttpTransport transport;
    const Outcome outcome =
        ExchangeWith(transport, "127.0.0.1", server.port(), kShortLimit);
    EXPECT_EQ(outcome.code, http_code::kTimeout);
    EXPECT_EQ(outcome.reply, head);
    EXPECT_GE(outcome.elapsed, kDeadlineEarliest);
  }
}

TEST(AsioHttpTransportTest, ReplyClosedByThePeerIsReceived) {
  OneShotServer server(ReplyAndClose("no length, no token"));
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport(DeviceOptions(milliseconds(3000)));
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, "no length, no token");
  EXPECT_LT(outcome.elapsed, kPrompt);
}

TEST(AsioHttpTransportTest, LongReplyIsCutAtCapacity) {
  std::string big(20 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = "0123456789"[i % 10];
  for (const bool close_after : {false, true}) {
    SCOPED_TRACE(close_after ? "peer closes" : "peer holds the line");
    OneShotServer server(close_after ? ReplyAndClose(big) : ReplyAndHold(big));
    ASSERT_TRUE(server.listening());
    AsioHttpTransport transport;
    const Outcome outcome =
        ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
    EXPECT_EQ(outcome.code, http_code::kOk);
    ASSERT_EQ(outcome.reply.size(), HttpTransport::kReplyCapacity);
    EXPECT_EQ(outcome.reply, big.substr(0, HttpTransport::kReplyCapacity));
    EXPECT_LT(outcome.elapsed, kPrompt);
  }
}

// ---------------------------------------------------------------------------
// Failures while receiving.

TEST(AsioHttpTransportTest, SilentServerEndsAtTheDeadline) {
  OneShotServer server(Silent());
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport;
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kShortLimit);
  EXPECT_EQ(outcome.code, http_code::kTimeout);
  EXPECT_EQ(outcome.reply, "");
  EXPECT_GE(outcome.elapsed, kDeadlineEarliest);
  EXPECT_LT(outcome.elapsed, kDeadlineLatest);
  EXPECT_EQ(outcome.cause,
            "deadline of 1 s passed while receiving (0 bytes held)");
}

TEST(AsioHttpTransportTest, DripSlowerThanTheDeadlineIsCutAtTheDeadline) {
  // One byte every 300 ms: every single read is quick, the whole is not.
  OneShotServer server([](int& fd) {
    for (int i = 0; i < 20; ++i) {
      if (!SendAll(fd, "x")) return;
      if (WaitForPeerClose(fd, milliseconds(300))) return;
    }
  });
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport;
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kShortLimit);
  EXPECT_EQ(outcome.code, http_code::kTimeout);
  EXPECT_GE(outcome.reply.size(), 2u);
  EXPECT_GE(outcome.elapsed, kDeadlineEarliest);
  EXPECT_LT(outcome.elapsed, kDeadlineLatest);
}

TEST(AsioHttpTransportTest, ResetMidReplyIsAReceptionError) {
  OneShotServer server([](int& fd) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart");
    std::this_thread::sleep_for(milliseconds(100));
    CloseWithReset(fd);
    fd = -1;
  });
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport;
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kReception);
  EXPECT_LT(outcome.elapsed, kPrompt);
  EXPECT_EQ(outcome.cause, "receive: " + SystemText(ECONNRESET));
}

TEST(AsioHttpTransportTest, ClosedWithNothingIsAResponseError) {
  OneShotServer server([](int&) {});  // reads the request, closes in order
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport;
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  EXPECT_EQ(outcome.code, http_code::kResponse);
  EXPECT_EQ(outcome.reply, "");
  EXPECT_LT(outcome.elapsed, kPrompt);
  EXPECT_EQ(outcome.cause, "peer closed with nothing received");
}

TEST(AsioHttpTransportTest, NextExchangeIsUnharmedByAFailedOne) {
  AsioHttpTransport transport;
  {
    OneShotServer silent(Silent());
    ASSERT_TRUE(silent.listening());
    EXPECT_EQ(
        ExchangeWith(transport, "127.0.0.1", silent.port(), kShortLimit).code,
        http_code::kTimeout);
  }
  OneShotServer server(ReplyAndClose("HJ5_Ret(0)"));
  ASSERT_TRUE(server.listening());
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), 5);
  EXPECT_EQ(outcome.code, http_code::kOk);
  EXPECT_EQ(outcome.reply, "HJ5_Ret(0)");
}

// ---------------------------------------------------------------------------
// Cancel.

TEST(AsioHttpTransportTest, CancelFromAnotherThreadEndsASilentExchange) {
  OneShotServer server(Silent());
  ASSERT_TRUE(server.listening());
  AsioHttpTransport transport;
  std::thread canceller([&transport] {
    std::this_thread::sleep_for(milliseconds(200));
    transport.Cancel();
  });
  const Outcome outcome =
      ExchangeWith(transport, "127.0.0.1", server.port(), kLongLimit);
  canceller.join();
  EXPECT_EQ(outcome.code, http_code::kTimeout);
  EXPECT_GE(outcome.elapsed, milliseconds(150));
  EXPECT_LT(outcome.elapsed, milliseconds(3000));
  EXPECT_EQ(outcome.cause, "cancelled");
}

TEST(AsioHttpTransportTest, CancelBeforeAnExchangeEndsEveryLaterOneAtOnce) {
  Backlog listener;
  ASSERT_TRUE(listener.ok());
  AsioHttpTransport transport;
  transport.Cancel();
  for (int i = 0; i < 2; ++i) {
    const Outcome outcome =
        ExchangeWith(transport, "127.0.0.1", listener.port(), kLongLimit);
    EXPECT_EQ(outcome.code, http_code::kTimeout);
    EXPECT_EQ(outcome.reply, "");
    EXPECT_LT(outcome.elapsed, milliseconds(200));
  }
  EXPECT_FALSE(listener.HasCaller());  // no connection was even tried
}

// Cancels racing with the start of an exchange, at every point of it: each
// exchange still ends promptly with kTimeout.
TEST(AsioHttpTransportTest, CancelRacingTheStartOfAnExchangeIsNeverLost) {
  Backlog listener;
  ASSERT_TRUE(listener.ok());
  const auto start = Ticks::now();
  for (int round = 0; round < 20; ++round) {
    AsioHttpTransport transport;
    std::atomic<bool> go{false};
    std::thread canceller([&] {
      while (!go.load()) std::this_thread::yield();
      for (int spin = 0; spin < round * 50; ++spin) std::this_thread::yield();
      transport.Cancel();
    });
    go.store(true);
    const Outcome outcome =
        ExchangeWith(transport, "127.0.0.1", listener.port(), kLongLimit);
    canceller.join();
    EXPECT_EQ(outcome.code, http_code::kTimeout) << "round " << round;
  }
  EXPECT_LT(Ticks::now() - start, std::chrono::seconds(kLongLimit));
}

}  // namespace
}  // namespace hj5
