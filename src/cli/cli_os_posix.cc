#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "cli/cli_os.h"

namespace hj5::cli {

bool StdinIsTerminal() { return ::isatty(0) == 1; }
bool StdoutIsTerminal() { return ::isatty(1) == 1; }
bool EnableLiveOutput() {
  const char* term = std::getenv("TERM");
  return term && std::string_view(term) != "dumb";
}

std::size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(1, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

namespace {

// The terminal's settings before the prompt hid the echo: the one thing the
// prompt's signal handler touches. Written before the handler is installed.
termios prompt_saved_terminal{};

// Ctrl-C (or a kill) at the prompt: the echo comes back before the process
// ends as the signal would have ended it.
extern "C" void OnSignalAtPrompt(int signal_number) {
  ::tcsetattr(0, TCSAFLUSH, &prompt_saved_terminal);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  const bool terminal = ::tcgetattr(0, &prompt_saved_terminal) == 0;
  struct sigaction restore {
  }, previous_int{}, previous_term{};
  if (terminal) {
    restore.sa_handler = &OnSignalAtPrompt;
    sigemptyset(&restore.sa_mask);
    ::sigaction(SIGINT, &restore, &previous_int);
    ::sigaction(SIGTERM, &restore, &previous_term);
    termios quiet = prompt_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(0, TCSAFLUSH, &quiet);
  }
  std::string line;
  const bool got = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    ::tcsetattr(0, TCSAFLUSH, &prompt_saved_terminal);
    ::sigaction(SIGINT, &previous_int, nullptr);
    ::sigaction(SIGTERM, &previous_term, nullptr);
  }
  if (!got) return std::nullopt;
  return line;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> DeviceText(const std::string& text) { return text; }

void PrepareForThreads(std::size_t threads) {
  constexpr int kFutexHash = 78;          // PR_FUTEX_HASH
  constexpr unsigned long kSetSlots = 1;  // PR_FUTEX_HASH_SET_SLOTS
  unsigned long slots = 1024;
  while (slots < 2 * threads && slots < 65536) slots *= 2;
  ::prctl(kFutexHash, kSetSlots, slots, 0UL, 0UL);  // older kernels: EINVAL
}

bool ReadableByOthers(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  return (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

namespace {

// Descriptors left to the process itself (output, libraries, lookups, the
// shared event loop, the web page's server and its pages).
constexpr std::size_t kReserve = 64;

// The descriptors open now.
std::size_t OpenDescriptors(rlim_t limit) {
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    return count > 0 ? count - 1 : 0;  // the directory's own
  }
  std::size_t count = 0;
  for (rlim_t fd = 0; fd < limit && fd < 65536; ++fd) {
    if (::fcntl(static_cast<int>(fd), F_GETFD) != -1) ++count;
  }
  return count;
}

}  // namespace

std::size_t DescriptorsAvailable(std::string* note) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t before = limit.rlim_cur;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur != before) {
    *note = "descriptor limit raised from " + std::to_string(before) + " to " +
            std::to_string(limit.rlim_cur);
  }
  const std::size_t open = OpenDescriptors(limit.rlim_cur);
  const std::size_t soft = limit.rlim_cur == RLIM_INFINITY
                               ? static_cast<std::size_t>(1) << 20
                               : static_cast<std::size_t>(limit.rlim_cur);
  return soft <= open + kReserve ? 0 : soft - open - kReserve;
}

namespace {

// The write end of the self-pipe: the one thing the handler may touch.
// Set once by the InterruptWatch that main makes, before the handler is
// installed. Each signal writes its own byte.
int interrupt_write_fd = -1;

constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnStopSignal(int signal_number) {
  const int saved = errno;
  const char byte = static_cast<char>(signal_number);
  [[maybe_unused]] ssize_t ignored = ::write(interrupt_write_fd, &byte, 1);
  errno = saved;
}

}  // namespace

struct InterruptWatch::State {
  int read_fd = -1;
  struct sigaction previous[std::size(kWatched)] = {};
};

InterruptWatch::InterruptWatch() : state_(std::make_unique<State>()) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  state_->read_fd = fds[0];
  interrupt_write_fd = fds[1];
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kWatched); ++i)
    ::sigaction(kWatched[i], &action, &state_->previous[i]);
  // A reader that went away (`| head`) fails the write, not the process.
  ::signal(SIGPIPE, SIG_IGN);
}

InterruptWatch::~InterruptWatch() {
  if (state_->read_fd < 0) return;
  for (std::size_t i = 0; i < std::size(kWatched); ++i)
    ::sigaction(kWatched[i], &state_->previous[i], nullptr);
  ::close(state_->read_fd);
  ::close(interrupt_write_fd);
  interrupt_write_fd = -1;
}

fleet::StopRequests InterruptWatch::Wait(std::chrono::milliseconds limit) {
  fleet::StopRequests signals;
  if (state_->read_fd < 0) {
    ::usleep(static_cast<useconds_t>(limit.count() * 1000));
    return signals;
  }
  pollfd watched{state_->read_fd, POLLIN, 0};
  ::poll(&watched, 1, static_cast<int>(limit.count()));
  char bytes[16];
  for (ssize_t got; (got = ::read(state_->read_fd, bytes, sizeof bytes)) > 0;) {
    for (ssize_t i = 0; i < got; ++i) {
      if (bytes[i] == SIGINT) {
        ++signals.interrupts;
      } else {
        ++signals.terminations;
        signals.termination_status = 128 + bytes[i];
      }
    }
  }
  return signals;
}

}  // namespace hj5::cli
