#include "cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

extern char** environ;

namespace hj5::test {

CliProcess::CliProcess(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment) {
  err_path_ = "/tmp/hj5-cli-stderr-" + std::to_string(::getpid()) + "-" +
              std::to_string(reinterpret_cast<std::uintptr_t>(this));
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  std::vector<std::string> env = environment;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  std::vector<char*> argv{const_cast<char*>(HJ5_UPDATE_PATH)};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    const int err =
        ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  out_fd_ = out[0];
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  std::remove(err_path_.c_str());
}

bool CliProcess::ReadSome(std::chrono::milliseconds limit) {
  pollfd watched{out_fd_, POLLIN, 0};
  if (::poll(&watched, 1, static_cast<int>(limit.count())) <= 0) return true;
  char buffer[4096];
  const ssize_t got = ::read(out_fd_, buffer, sizeof buffer);
  if (got <= 0) return false;
  pending_.append(buffer, static_cast<std::size_t>(got));
  for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
    lines_.push_back(pending_.substr(0, end));
    pending_.erase(0, end + 1);
  }
  return true;
}

bool CliProcess::WaitForLine(
    const std::function<bool(const std::string&)>& wanted,
    std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    for (; checked_ < lines_.size(); ++checked_) {
      if (wanted(lines_[checked_])) {
        ++checked_;
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadSome(left)) return false;
  }
}

int CliProcess::Wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!ReadSome(left)) break;
  }
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ::usleep(10000);
  }
  return -1;
}

void CliProcess::Signal(int signal_number) { ::kill(pid_, signal_number); }

std::string CliProcess::ErrorText() const {
  std::ifstream in(err_path_);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

nlohmann::json JsonLine(const std::string& line) {
  return nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
}

nlohmann::json SummaryOf(const std::vector<std::string>& lines,
                         const std::string& device) {
  if (lines.empty()) return nlohmann::json::object();
  const nlohmann::json summary = JsonLine(lines.back());
  if (!summary.is_object() || !summary.contains("devices"))
    return nlohmann::json::object();
  for (const nlohmann::json& entry : summary["devices"]) {
    if (TextOf(entry, "device") == device) return entry;
  }
  return nlohmann::json::object();
}

std::string TextOf(const nlohmann::json& event, const char* name) {
  if (!event.is_object() || !event.contains(name)) return "";
  const nlohmann::json& value = event[name];
  return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace hj5::test
