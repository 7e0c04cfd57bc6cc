#ifndef HJ5_CLI_CLI_OS_H_
#define HJ5_CLI_CLI_OS_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fleet/fleet_clock.h"

// What the command line needs of the operating system, one file per system
// (cli_os_posix.cc, cli_os_windows.cc).
namespace hj5::cli {

// True when standard input (0) or standard output (1) is a terminal.
bool StdinIsTerminal();
bool StdoutIsTerminal();

// Prepares standard output for the live display's control sequences; false
// when the terminal cannot show them.
bool EnableLiveOutput();

// The width of the terminal on standard output in columns; 0 when unknown.
std::size_t TerminalColumns();

// Writes `prompt` to the terminal and reads one line from standard input
// without echo, as UTF-8; nullopt at end of input.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

// The program's arguments after its name, as UTF-8 (Windows: read as
// UTF-16 from the command line, whatever the ANSI code page).
std::vector<std::string> Arguments(int argc, char** argv);

// An environment variable as UTF-8; nullopt when it is not set.
std::optional<std::string> Environment(const char* name);

// `text` (UTF-8: from the command line, the environment, a file or the
// prompt) as the bytes the device gets: unchanged on Linux; on Windows in
// the ANSI code page, nullopt when a character has no form there (never a
// stand-in or a look-alike).
std::optional<std::string> DeviceText(const std::string& text);

// True when the file at `path` may be read by its group or by others.
bool ReadableByOthers(const std::string& path);

// The descriptors a run may open: raises the soft limit as far as the hard
// limit allows, then counts what is left after those open now and a
// reserve for the process itself. `note` says what was raised. Windows has
// no such limit (a large count).
std::size_t DescriptorsAvailable(std::string* note);

// Prepares the process for `threads` threads that mostly wait. On Linux
// 6.16 and later a process's private futex hash starts at 16 slots, and
// thousands of waiting threads in 16 slots make every wake-up scan hundreds
// of waiters: the hash is given room for them. Elsewhere nothing.
void PrepareForThreads(std::size_t threads);

// The operator's Ctrl-C and the system's requests to end. Constructed once,
// by main, before any other thread starts; the handlers only record them.
// While it lives they no longer end the process: the run decides.
class InterruptWatch final : public fleet::StopSource {
 public:
  InterruptWatch();
  ~InterruptWatch() override;

  // Waits up to `limit` for a signal; returns those seen since the last
  // call (none at all when nothing came).
  fleet::StopRequests Wait(std::chrono::milliseconds limit) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_CLI_OS_H_
