#ifndef HJ5_CLI_CLI_OS_H_
#define HJ5_CLI_CLI_OS_H_

#include <chrono>
#include <cstddef>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// `seconds` since the epoch as the calendar's UTC fields.
std::tm UtcCalendar(std::time_t seconds);

// The current time as "2026-01-31T12:34:56.789Z" (timestamp.cc).
std::string UtcTimestamp();

// How many updates may run side by side before the process runs out of
// descriptors: raises the soft limit as far as the hard limit allows, then
// divides what is left after the descriptors open now by `per_update`.
// `note` says what was raised or what bounds the count.
std::size_t DescriptorCapacity(std::size_t per_update, std::string* note);

// The operator's Ctrl-C. Constructed once, by main, before any other thread
// starts; the handler only records the press.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Waits up to `limit` for a press; returns the presses seen since the
  // last call (0 when none).
  int Wait(std::chrono::milliseconds limit);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_CLI_OS_H_
