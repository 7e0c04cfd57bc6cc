// Round trip of one device command over loopback: CommandExchange through
// the real transport against a small device stand-in that either keeps the
// line open and sends Content-Length, or closes after its reply.
//
// Each benchmark runs a fixed number of exchanges and reports, in
// microseconds, the median, the 10th and 90th percentiles and the extremes
// of the single round trips. Goal: median below 1 ms for both.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device/command_exchange.h"
#include "device/commands.h"
#include "device/device_session.h"
#include "device/reply_token.h"
#include "platform/asio_http_transport.h"
#include "platform/http_reply_framing.h"
#include "platform/steady_clock.h"
#include "support/fake_ftp_client.h"
#include "support/transcript.h"

namespace hj5 {
namespace {

using std::chrono::milliseconds;
using Ticks = std::chrono::steady_clock;

// Bounds of the traffic: exchanges per benchmark run, and how long the
// stand-in waits for anything.
constexpr int kExchanges = 2000;
constexpr int kMaxConnections = 4 * kExchanges;
constexpr milliseconds kPatience{1000};

bool Readable(int fd, milliseconds limit) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, static_cast<int>(limit.count())) == 1;
}

bool SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t sent =
        ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

// The device stand-in on 127.0.0.1, port chosen by the OS; one connection
// at a time on its own thread.
class StandIn {
 public:
  explicit StandIn(bool keep_alive) : keep_alive_(keep_alive) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (listener_ < 0 || ::bind(listener_, generic, size) != 0 ||
        ::getsockname(listener_, generic, &size) != 0 ||
        ::listen(listener_, 16) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~StandIn() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  std::uint16_t port() const { return port_; }

 private:
  void Serve() {
    for (int served = 0; !stop_ && served < kMaxConnections;) {
      if (!Readable(listener_, milliseconds(100))) continue;
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++served;
      Answer(fd);
      ::close(fd);
    }
  }

  void Answer(int fd) {
    std::string request;
    char chunk[2048];
    while (FramingByContentLength(request) != LengthFraming::kMet &&
           Readable(fd, kPatience)) {
      const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      request.append(chunk, static_cast<std::size_t>(got));
    }
    const std::string body = "<html><body>HJ5M</body></html>HJ5_Ret(0)";
    const std::string reply =
        keep_alive_ ? "HTTP/1.1 200 OK\r\nContent-Length: " +
                          std::to_string(body.size()) +
                          "\r\nConnection: Keep-Alive\r\n\r\n" + body
                    : "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
    if (!SendAll(fd, reply) || !keep_alive_) return;
    // Holds the line until the client closes it.
    while (Readable(fd, kPatience) && ::recv(fd, chunk, sizeof chunk, 0) > 0) {
    }
  }

  bool keep_alive_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double Percentile(std::vector<double> sorted, double fraction) {
  const auto index = static_cast<std::size_t>(fraction * (sorted.size() - 1));
  return sorted[index];
}

void RoundTrip(benchmark::State& state, bool keep_alive) {
  StandIn device(keep_alive);
  if (device.port() == 0) return state.SkipWithError("no loopback listener");
  test::Transcript transcript;
  AsioHttpTransport transport(
      AsioHttpTransportOptions{.reply_closed = EndsWithClosingToken});
  DeviceSession session;
  session.address = "127.0.0.1";
  session.http_port = device.port();
  session.login_id = "admin";
  session.password = "secret";
  test::FakeFtpClient ftp(transcript);
  SteadyClock clock;
  const Platform platform{transport, ftp, clock, 5};
  const DeviceLink link{platform, session};
  const std::string body = CommandBody(Command::kQueryDevice, session);

  std::vector<double> micros;
  micros.reserve(kExchanges);
  for (auto _ : state) {
    const auto start = Ticks::now();
    const bool accepted = CommandExchange(link, body).ok();
    micros.push_back(
        std::chrono::duration<double, std::micro>(Ticks::now() - start)
            .count());
    if (!accepted) return state.SkipWithError("the exchange failed");
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = Percentile(micros, 0.5);
  state.counters["p10_us"] = Percentile(micros, 0.1);
  state.counters["p90_us"] = Percentile(micros, 0.9);
  state.counters["min_us"] = micros.front();
  state.counters["max_us"] = micros.back();
}

void BM_CommandExchangeKeepAliveWithLength(benchmark::State& state) {
  RoundTrip(state, true);
}
void BM_CommandExchangeClosingAfterReply(benchmark::State& state) {
  RoundTrip(state, false);
}

BENCHMARK(BM_CommandExchangeKeepAliveWithLength)
    ->Iterations(kExchanges)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_CommandExchangeClosingAfterReply)
    ->Iterations(kExchanges)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
}  // namespace hj5

BENCHMARK_MAIN();
