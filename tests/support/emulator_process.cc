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

// Appends the code point `cp` to `out`: below 0x100 as that one byte (the
// emulator sends received bytes as code points 0 to 255), else as UTF-8.
void AppendCodePoint(unsigned cp, std::string& out) {
  if (cp < 0x100) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Reads the escape after a backslash at text[pos]; advances pos past it.
bool ReadEscape(const std::string& text, std::size_t& pos, std::string& out) {
  static const std::string kNames = "bfnrt";
  static const std::string kBytes = "\b\f\n\r\t";
  if (pos >= text.size()) return false;
  char c = text[pos++];
  if (c == 'u') {
    if (pos + 4 > text.size()) return false;
    AppendCodePoint(std::stoul(text.substr(pos, 4), nullptr, 16), out);
    pos += 4;
    return true;
  }
  std::size_t named = kNames.find(c);
  out.push_back(named == std::string::npos ? c
                                           : kBytes[named]);  // '"' '\\' '/'
  return true;
}

// Parses the JSON string that starts at text[pos] (a quote); on success pos
// is just past the closing quote.
bool ReadJsonString(const std::string& text, std::size_t& pos,
                    std::string& out) {
  if (pos >= text.size() || text[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < text.size()) {
    char c = text[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out.push_back(c);
    } else if (!ReadEscape(text, pos, out)) {
      return false;
    }
  }
  return false;
}

void SkipBlanks(const std::string& text, std::size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\n' ||
                               text[pos] == '\r' || text[pos] == '\t')) {
    ++pos;
  }
}

// A JSON array of strings, e.g. ["a", "b"]; empty when it is not one.
std::vector<std::string> ReadStringArray(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  SkipBlanks(text, pos);
  if (pos >= text.size() || text[pos] != '[') return out;
  ++pos;
  std::string item;
  while (true) {
    SkipBlanks(text, pos);
    if (pos < text.size() && text[pos] == ']') return out;
    if (!ReadJsonString(text, pos, item)) return {};
    out.push_back(item);
    SkipBlanks(text, pos);
    if (pos < text.size() && text[pos] == ',') ++pos;
  }
}

// Position just after `"key":` and blanks in a JSON object text; npos if the
// key is not there.
std::size_t ValueOf(const std::string& text, const std::string& key) {
  std::size_t pos = text.find("\"" + key + "\":");
  if (pos == std::string::npos) return pos;
  pos += key.size() + 3;
  SkipBlanks(text, pos);
  return pos;
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
  std::string reply = Control("GET", "/params/" + PercentEncode(name));
  std::size_t pos = ValueOf(reply, "value");
  std::string value;
  if (pos == std::string::npos || !ReadJsonString(reply, pos, value)) {
    return "";
  }
  return value;
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
  return ReadStringArray(Control("GET", "/records/bodies"));
}

std::vector<std::string> EmulatorProcess::RawRequests() {
  return ReadStringArray(Control("GET", "/records/raw"));
}

std::vector<std::string> EmulatorProcess::FtpCommands() {
  return ReadStringArray(Control("GET", "/records/ftp"));
}

int EmulatorProcess::BootCount() {
  std::string reply = Control("GET", "/state");
  std::size_t pos = ValueOf(reply, "boot_count");
  if (pos == std::string::npos) return -1;
  return std::atoi(reply.c_str() + pos);
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
