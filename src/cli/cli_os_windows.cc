#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <ctime>
#include <iostream>

#include "cli/cli_os.h"
#include "platform/code_page.h"

namespace hj5::cli {

namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }
bool StdoutIsTerminal() { return IsConsole(STD_OUTPUT_HANDLE); }

bool EnableLiveOutput() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return 0;
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

namespace {

// The console's input mode before the prompt hid the echo: the one thing
// the prompt's control handler touches. Written before it is installed.
HANDLE prompt_input = nullptr;
DWORD prompt_saved_mode = 0;

// Ctrl-C (or a close) at the prompt: the echo comes back, then the next
// handler (the system's, which ends the process) takes the event.
BOOL WINAPI OnControlAtPrompt(DWORD) {
  SetConsoleMode(prompt_input, prompt_saved_mode);
  return FALSE;
}

// The most a typed or piped secret line may hold; a longer one is no
// password and is not read without end.
constexpr std::size_t kSecretLineLimit = 4096;

// One line typed on the console, as UTF-16 without its line end; nullopt
// at end of input (Ctrl-Z) or when it cannot be read.
std::optional<std::wstring> ReadConsoleLine(HANDLE in) {
  std::wstring line;
  wchar_t chunk[256];
  while (line.size() <= kSecretLineLimit) {
    DWORD got = 0;
    if (!ReadConsoleW(in, chunk, 256, &got, nullptr) || got == 0)
      return std::nullopt;
    line.append(chunk, got);
    if (line.back() == L'\n') break;
  }
  if (line.size() > kSecretLineLimit) return std::nullopt;
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
    line.pop_back();
  if (!line.empty() && line.front() == L'\x1a') return std::nullopt;
  return line;
}

// One line of standard input's bytes (UTF-8), without its line end; the
// bytes are read as they are, with no text-mode translation.
std::optional<std::string> ReadByteLine(HANDLE in) {
  std::string line;
  char byte = 0;
  DWORD got = 0;
  bool any = false;
  while (line.size() <= kSecretLineLimit &&
         ReadFile(in, &byte, 1, &got, nullptr) && got == 1) {
    any = true;
    if (byte == '\n') break;
    line.push_back(byte);
  }
  if (!any || line.size() > kSecretLineLimit) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(in, &saved)) return ReadByteLine(in);
  // Typed on the console: read as UTF-16, whatever the code pages, with
  // the echo off.
  prompt_input = in;
  prompt_saved_mode = saved;
  SetConsoleCtrlHandler(&OnControlAtPrompt, TRUE);
  SetConsoleMode(in, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) |
                         ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
  const std::optional<std::wstring> line = ReadConsoleLine(in);
  SetConsoleMode(in, saved);
  SetConsoleCtrlHandler(&OnControlAtPrompt, FALSE);
  std::cerr << "\n";
  if (!line) return std::nullopt;
  const std::string utf8 = Utf8Of(*line);
  if (utf8.empty() != line->empty()) return std::nullopt;
  return utf8;
}

std::vector<std::string> Arguments(int, char**) {
  // main()'s argv went through the ANSI code page, where a character
  // without a form of its own became a look-alike ("é" as "e" under code
  // page 932): the command line is read again as the system keeps it.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (!wide) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8Of(wide[i]));
  LocalFree(wide);
  return arguments;
}

// The process's own environment block: the C runtime's wide copy
// (_wgetenv) is made from its ANSI copy in a program with main(), which
// has already lost what the code page cannot hold.
std::optional<std::string> Environment(const char* name) {
  const std::wstring wide_name = WideOfUtf8(name);
  std::wstring value(64, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(
        wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      return Utf8Of(value);
    }
    value.resize(length);  // the room it needs, its terminator included
  }
  return std::nullopt;
}

std::optional<std::string> DeviceText(const std::string& text) {
  const std::wstring wide = WideOfUtf8(text);
  if (wide.empty() != text.empty()) return std::nullopt;  // no UTF-8
  return ToCodePage(wide, GetACP());
}

// Windows grants reading through access lists, which this check does not
// read; the warning is a POSIX one.
bool ReadableByOthers(const std::string&) { return false; }

// Sockets and files are handles here, with no per-process limit of the
// POSIX kind.
void PrepareForThreads(std::size_t) {}

std::size_t DescriptorsAvailable(std::string*) {
  return static_cast<std::size_t>(1) << 20;
}

namespace {

// What the console's handler touches: counts and two events, made once by
// the InterruptWatch that main makes, before the handler is installed, and
// kept for the process's life (a handler may still wait on one while the
// process ends).
std::atomic<int> interrupt_presses{0};
std::atomic<int> termination_requests{0};
HANDLE stop_requested = nullptr;  // auto-reset: a press or request came
HANDLE run_ended = nullptr;       // manual-reset: the watch has gone

// How long the handler of a close, logoff or shutdown holds the process.
// Windows ends the process once the handler returns, and in any case after
// its time-out for these events (5 s for a close, SPI_GETHUNGAPPTIMEOUT; 5
// s for logoff and shutdown, SPI_GETWAITTOKILLTIMEOUT); the few seconds
// before are all the run gets to stop its updates and restore the devices.
// Logoff and shutdown reach a console program only while it has loaded
// neither user32 nor gdi32 (WinINet brings user32), or as a service.
constexpr DWORD kCloseGraceMs = 4500;

constexpr int kTerminationStatus = 143;  // as for SIGTERM

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
      interrupt_presses.fetch_add(1);
      SetEvent(stop_requested);
      return TRUE;
    case CTRL_BREAK_EVENT:
      termination_requests.fetch_add(1);
      SetEvent(stop_requested);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      termination_requests.fetch_add(1);
      SetEvent(stop_requested);
      // This thread is the system's; while it waits the process lives on,
      // and the run's end (or the grace) lets the system end it.
      WaitForSingleObject(run_ended, kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

struct InterruptWatch::State {};

InterruptWatch::InterruptWatch() : state_(std::make_unique<State>()) {
  if (!stop_requested)
    stop_requested = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!run_ended) run_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(run_ended);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  SetEvent(run_ended);
}

fleet::StopRequests InterruptWatch::Wait(std::chrono::milliseconds limit) {
  const DWORD wait = static_cast<DWORD>(limit.count());
  if (stop_requested) {
    WaitForSingleObject(stop_requested, wait);
  } else {
    Sleep(wait);
  }
  fleet::StopRequests signals;
  signals.interrupts = interrupt_presses.exchange(0);
  signals.terminations = termination_requests.exchange(0);
  if (signals.terminations > 0) signals.termination_status = kTerminationStatus;
  return signals;
}

}  // namespace hj5::cli
