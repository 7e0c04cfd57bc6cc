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

// A file that lines are appended to, each on the disk once Append() has
// returned true: a crash or a power cut loses none of them. Opened for
// appending, created with access for its owner only. One thread at a time.
class DurableFile {
 public:
  // nullptr, with the system's text in `*error`, when it cannot be opened.
  static std::unique_ptr<DurableFile> Open(const std::string& path,
                                           std::string* error);
  ~DurableFile();
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;

  // Appends `line` and a line end and waits until both are on the disk.
  bool Append(const std::string& line);

 private:
  struct State;
  explicit DurableFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// What asked the run to stop since the last look.
struct StopSignals {
  int interrupts = 0;  // the operator's Ctrl-C
  // SIGTERM or SIGHUP (what timeout(1), systemd and Ansible send); on
  // Windows Ctrl-Break and the console's close, logoff and shutdown.
  int terminations = 0;
  // The exit status the last termination asks for: 143 for SIGTERM (and
  // Windows' events), 129 for SIGHUP; 0 when none came.
  int termination_status = 0;

  bool any() const { return interrupts + terminations > 0; }
};

// The operator's Ctrl-C and the system's requests to end. Constructed once,
// by main, before any other thread starts; the handlers only record them.
// While it lives they no longer end the process: the run decides.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Waits up to `limit` for a signal; returns those seen since the last
  // call (none at all when nothing came).
  StopSignals Wait(std::chrono::milliseconds limit);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_CLI_OS_H_
