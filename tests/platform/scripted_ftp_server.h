#ifndef HJ5_TESTS_PLATFORM_SCRIPTED_FTP_SERVER_H_
#define HJ5_TESTS_PLATFORM_SCRIPTED_FTP_SERVER_H_

// A one-thread FTP server on loopback whose replies a test writes, for the
// cases the device emulator does not produce: 421, stalls, EPSV refused,
// IPv6, odd final replies. It serves sessions one after another until it is
// destroyed; every wait is bounded.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hj5::test {

struct FtpScript {
  enum class Data { kReadAll, kStallAfter, kDropAfter };
  bool banner = true;  // false: say nothing at all
  std::string banner_reply = "220 ready";
  std::string user_reply = "331 password please";
  std::string pass_reply = "230 logged in";
  bool epsv = true;  // false: EPSV gets 500
  std::string stor_reply = "150 send it";
  Data data = Data::kReadAll;
  std::size_t data_limit = 0;              // bytes before the stall or drop
  std::string final_reply = "226 stored";  // empty: never answers
};

class ScriptedFtpServer {
 public:
  explicit ScriptedFtpServer(FtpScript script, bool ipv6 = false)
      : script_(std::move(script)), ipv6_(ipv6) {
    listener_ = Listen();
    if (listener_ >= 0) thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedFtpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  ScriptedFtpServer(const ScriptedFtpServer&) = delete;
  ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

  bool ok() const { return listener_ >= 0; }
  std::uint16_t port() const { return LocalPort(listener_); }

  // Command lines as received, without CRLF.
  std::vector<std::string> Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  std::string Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  int Sessions() const { return sessions_.load(); }

  // How the client ended the last data connection the server stalled on:
  // "in order" (FIN), "reset" (RST), or "" when it did not end.
  std::string DataEnd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_end_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kMaxWait = std::chrono::seconds(20);

  int Listen() const {
    int fd = socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6_) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      length = sizeof(*in6);
    } else {
      auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
      in4->sin_family = AF_INET;
      in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof(*in4);
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 4) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  static std::uint16_t LocalPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (fd < 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return 0;
    }
    if (address.ss_family == AF_INET6) {
      return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  }

  // Waits for fd to become readable, watching the stop flag; false on stop or
  // after kMaxWait.
  bool WaitReadable(int fd) const {
    const auto end = Clock::now() + kMaxWait;
    while (!stop_ && Clock::now() < end) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 50) > 0) return true;
    }
    return false;
  }

  // Stays quiet until the client gives up or the test ends; how it ended
  // the connection, as DataEnd() tells it.
  // Unread bytes may wait in the socket: its end shows in poll's events.
  std::string Stall(int fd) const {
    const auto end = Clock::now() + kMaxWait;
    while (!stop_ && Clock::now() < end) {
      pollfd entry{fd, POLLRDHUP, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      if (error == ECONNRESET) return "reset";
      if (entry.revents & (POLLRDHUP | POLLHUP)) return "in order";
      if (entry.revents & POLLERR) return "";
    }
    return "";
  }

  int Accept(int listener) const {
    if (!WaitReadable(listener)) return -1;
    return accept(listener, nullptr, nullptr);
  }

  static void Reply(int fd, const std::string& line) {
    std::string out = line + "\r\n";
    (void)send(fd, out.data(), out.size(), MSG_NOSIGNAL);
  }

  bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c;
    while (WaitReadable(fd) && recv(fd, &c, 1, 0) == 1) {
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(line);
        return true;
      }
      line += c;
    }
    return false;
  }

  void Serve() {
    while (!stop_) {
      int control = Accept(listener_);
      if (control < 0) continue;
      ++sessions_;
      Session(control);
      close(control);
    }
  }

  void Session(int control) {
    if (!script_.banner) return (void)Stall(control);
    Reply(control, script_.banner_reply);
    int data_listener = -1;
    std::string line;
    bool open = true;
    while (open && ReadLine(control, line)) {
      open = Answer(control, line, data_listener);
    }
    if (data_listener >= 0) close(data_listener);
  }

  // Returns false when the session ends.
  bool Answer(int control, const std::string& line, int& data_listener) {
    std::string verb = line.substr(0, line.find(' '));
    if (verb == "USER") return Reply(control, script_.user_reply), true;
    if (verb == "PASS") return Reply(control, script_.pass_reply), true;
    if (verb == "PWD") return Reply(control, "257 \"/\""), true;
    if (verb == "TYPE") return Reply(control, "200 ok"), true;
    if (verb == "EPSV" || verb == "PASV") {
      return Passive(control, verb, data_listener), true;
    }
    if (verb == "STOR") return Store(control, data_listener);
    if (verb == "QUIT") return Reply(control, "221 bye"), false;
    Reply(control, "500 unknown");
    return true;
  }

  void Passive(int control, const std::string& verb, int& data_listener) {
    if ((verb == "EPSV" && !script_.epsv) || (verb == "PASV" && ipv6_)) {
      return Reply(control, "500 not here");
    }
    if (data_listener < 0) data_listener = Listen();
    std::uint16_t port = LocalPort(data_listener);
    if (verb == "EPSV") {
      return Reply(control, "229 Extended (|||" + std::to_string(port) + "|)");
    }
    Reply(control, "227 Passive (127,0,0,1," + std::to_string(port / 256) +
                       "," + std::to_string(port % 256) + ")");
  }

  bool Store(int control, int data_listener) {
    Reply(control, script_.stor_reply);
    if (script_.stor_reply.rfind("150", 0) != 0) return true;
    int data = Accept(data_listener);
    if (data < 0) return false;
    bool go_on = Receive(data);
    close(data);
    if (!go_on) return false;
    if (script_.final_reply.empty()) return (void)Stall(control), false;
    Reply(control, script_.final_reply);
    return true;
  }

  // Reads the file; false when the script drops the session.
  bool Receive(int data) {
    char buffer[65536];
    std::size_t total = 0;
    while (WaitReadable(data)) {
      std::size_t want = sizeof(buffer);
      if (script_.data != FtpScript::Data::kReadAll) {
        if (total >= script_.data_limit) break;
        want = std::min(want, script_.data_limit - total);
      }
      ssize_t got = recv(data, buffer, want, 0);
      if (got <= 0) return true;
      total += static_cast<std::size_t>(got);
      std::lock_guard<std::mutex> lock(mutex_);
      received_.append(buffer, static_cast<std::size_t>(got));
    }
    if (script_.data == FtpScript::Data::kStallAfter) {
      const std::string end = Stall(data);
      std::lock_guard<std::mutex> lock(mutex_);
      data_end_ = end;
    }
    return script_.data != FtpScript::Data::kDropAfter;
  }

  const FtpScript script_;
  const bool ipv6_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> sessions_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::string received_;
  std::string data_end_;
  std::thread thread_;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_PLATFORM_SCRIPTED_FTP_SERVER_H_
