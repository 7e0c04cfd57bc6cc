#include "support/emulator_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

extern char** environ;

namespace hj5::test {
namespace {

constexpr char kPython[] = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 10000;
constexpr int kControlTimeoutSeconds = 10;

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The bytes of a text the emulator sent as code points 0 to 255, which
// the JSON reader gives as UTF-8.
std::string BytesOf(const std::string& utf8) {
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0xC2 && c <= 0xC3 && i + 1 < utf8.size()) {
      bytes.push_back(
          static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(c));
    }
  }
  return bytes;
}

// A control reply as JSON; a discarded value when it is none.
nlohmann::json Parsed(const std::string& reply) {
  return nlohmann::json::parse(reply, nullptr, /*allow_exceptions=*/false);
}

// A JSON array of strings, e.g. ["a", "b"], as bytes; empty when it is not
// one.
std::vector<std::string> ByteStrings(const std::string& reply) {
  const nlohmann::json array = Parsed(reply);
  std::vector<std::string> out;
  if (!array.is_array()) return out;
  for (const nlohmann::json& item : array) {
    if (item.is_string()) out.push_back(BytesOf(item.get<std::string>()));
  }
  return out;
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += {'%', kHex[c >> 4], kHex[c & 0xF]};
    }
  }
  return out;
}

bool SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n =
        ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadToEnd(int fd) {
  std::string out;
  char buf[16384];
  while (true) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return out;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

int ConnectLoopback(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval tv{kControlTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string WwwPath(const std::string& root, const std::string& name) {
  return root + "/www/" + name;
}

}  // namespace

EmulatorProcess::EmulatorProcess(std::vector<std::string> extra_args) {
  Start(extra_args);
  if (!ok_) Stop();
}

EmulatorProcess::~EmulatorProcess() { Stop(); }

void EmulatorProcess::Start(const std::vector<std::string>& extra_args) {
  char dir[] = "/tmp/hj5emu-test-XXXXXX";
  if (::mkdtemp(dir) == nullptr) {
    error_ = "cannot create a temporary root folder";
    return;
  }
  root_ = dir;
  std::vector<std::string> args = {kPython,
                                   HJ5_EMULATOR_PATH,
                                   "--http-port",
                                   "0",
                                   "--ftp-port",
                                   "0",
                                   "--control-port",
                                   "0",
                                   "--root",
                                   root_,
                                   "--exit-on-stdin-eof"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    error_ = "pipe failed";
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  int rc =
      ::posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  stdin_fd_ = in[1];
  stdout_fd_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    error_ = std::string("cannot start ") + kPython + ": " + strerror(rc);
    return;
  }
  ok_ = ReadReadyLine();
}

bool EmulatorProcess::ReadReadyLine() {
  auto deadline = Clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  std::string line;
  while (line.find('\n') == std::string::npos) {
    pollfd pfd{stdout_fd_, POLLIN, 0};
    int left = MillisecondsLeft(deadline);
    if (left == 0 || ::poll(&pfd, 1, left) <= 0) {
      error_ = "the emulator did not report its ports within 10 s";
      return false;
    }
    char buf[256];
    ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
    if (n <= 0) {
      error_ = "the emulator exited before it was ready (see its stderr)";
      return false;
    }
    line.append(buf, static_cast<std::size_t>(n));
  }
  unsigned http = 0, ftp = 0, control = 0;
  if (std::sscanf(line.c_str(), "http=%u ftp=%u control=%u", &http, &ftp,
                  &control) != 3) {
    error_ = "unexpected first line from the emulator: " + line;
    return false;
  }
  http_port_ = static_cast<std::uint16_t>(http);
  ftp_port_ = static_cast<std::uint16_t>(ftp);
  control_port_ = static_cast<std::uint16_t>(control);
  return true;
}

void EmulatorProcess::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    auto deadline = Clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }
  for (int* fd : {&stdin_fd_, &stdout_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (!root_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
}

std::string EmulatorProcess::StoredFile(const std::string& name) const {
  std::ifstream in(WwwPath(root_, name), std::ios::binary);
  if (!in) return "";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool EmulatorProcess::HasStoredFile(const std::string& name) const {
  std::error_code ignored;
  return std::filesystem::exists(WwwPath(root_, name), ignored);
}

std::string EmulatorProcess::Param(const std::string& name) {
  const nlohmann::json reply =
      Parsed(Control("GET", "/params/" + PercentEncode(name)));
  if (!reply.is_object() || !reply.contains("value") ||
      !reply["value"].is_string())
    return "";
  return BytesOf(reply["value"].get<std::string>());
}

void EmulatorProcess::SetParam(const std::string& name,
                               const std::string& value) {
  Control("PUT", "/params/" + PercentEncode(name), value);
}

void EmulatorProcess::AddFault(const std::string& json_object) {
  std::string reply = Control("POST", "/faults", json_object);
  if (reply.find("\"ids\"") == std::string::npos) {
    ADD_FAILURE() << "the emulator refused the fault " << json_object << ": "
                  << reply;
  }
}

void EmulatorProcess::ClearFaults() { Control("DELETE", "/faults"); }

std::vector<std::string> EmulatorProcess::RequestBodies() {
  return ByteStrings(Control("GET", "/records/bodies"));
}

std::vector<std::string> EmulatorProcess::RawRequests() {
  return ByteStrings(Control("GET", "/records/raw"));
}

std::vector<std::string> EmulatorProcess::FtpCommands() {
  return ByteStrings(Control("GET", "/records/ftp"));
}

int EmulatorProcess::BootCount() {
  const nlohmann::json state = Parsed(Control("GET", "/state"));
  if (!state.is_object() || !state.contains("boot_count")) return -1;
  return state["boot_count"].get<int>();
}

void EmulatorProcess::ClearRecords() { Control("DELETE", "/records"); }

std::string EmulatorProcess::Control(const std::string& method,
                                     const std::string& path,
                                     const std::string& body) {
  if (!ok_) return "";
  int fd = ConnectLoopback(control_port_);
  if (fd < 0) return "";
  std::string request = method + " " + path + " HTTP/1.0\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body;
  std::string reply = SendAll(fd, request) ? ReadToEnd(fd) : "";
  ::close(fd);
  std::size_t head_end = reply.find("\r\n\r\n");
  return head_end == std::string::npos ? "" : reply.substr(head_end + 4);
}

}  // namespace hj5::test
