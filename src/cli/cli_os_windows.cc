#include <windows.h>

#include <atomic>
#include <ctime>
#include <iostream>

#include "cli/cli_os.h"

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

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  std::cerr << prompt << std::flush;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  const bool console = GetConsoleMode(in, &saved) != 0;
  if (console)
    SetConsoleMode(in, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::string line;
  const bool got = static_cast<bool>(std::getline(std::cin, line));
  if (console) {
    SetConsoleMode(in, saved);
    std::cerr << "\n";
  }
  if (!got) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string LocalPath(const std::string& argument) {
  if (argument.empty()) return argument;
  const int size = static_cast<int>(argument.size());
  const int wide_size =
      MultiByteToWideChar(CP_ACP, 0, argument.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, argument.data(), size, wide.data(), wide_size);
  const int utf8_size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size,
                                            nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(utf8_size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, utf8.data(),
                      utf8_size, nullptr, nullptr);
  return utf8;
}

struct DurableFile::State {
  HANDLE file = INVALID_HANDLE_VALUE;
};

DurableFile::DurableFile(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

DurableFile::~DurableFile() { CloseHandle(state_->file); }

std::unique_ptr<DurableFile> DurableFile::Open(const std::string& path,
                                               std::string* error) {
  auto state = std::make_unique<State>();
  state->file =
      CreateFileW(WideOfUtf8(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state->file == INVALID_HANDLE_VALUE) {
    *error = path + ": cannot be opened (error " +
             std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  return std::unique_ptr<DurableFile>(new DurableFile(std::move(state)));
}

bool DurableFile::Append(const std::string& line) {
  const std::string bytes = line + "\r\n";
  DWORD written = 0;
  return WriteFile(state_->file, bytes.data(), static_cast<DWORD>(bytes.size()),
                   &written, nullptr) &&
         written == bytes.size() && FlushFileBuffers(state_->file);
}

// Windows grants reading through access lists, which this check does not
// read; the warning is a POSIX one.
bool ReadableByOthers(const std::string&) { return false; }

std::tm UtcCalendar(std::time_t seconds) {
  std::tm utc{};
  gmtime_s(&utc, &seconds);
  return utc;
}

// Sockets and files are handles here, with no per-process limit of the
// POSIX kind.
std::size_t DescriptorCapacity(std::size_t, std::string*) {
  return static_cast<std::size_t>(1) << 16;
}

namespace {

// What the console's handler may touch: a count and an event, set once by
// the InterruptWatch that main makes, before the handler is installed.
std::atomic<int> interrupt_presses{0};
HANDLE interrupt_event = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  interrupt_presses.fetch_add(1);
  SetEvent(interrupt_event);
  return TRUE;
}

}  // namespace

struct InterruptWatch::State {};

InterruptWatch::InterruptWatch() : state_(std::make_unique<State>()) {
  interrupt_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  if (interrupt_event) CloseHandle(interrupt_event);
  interrupt_event = nullptr;
}

int InterruptWatch::Wait(std::chrono::milliseconds limit) {
  if (interrupt_event) {
    WaitForSingleObject(interrupt_event, static_cast<DWORD>(limit.count()));
  } else {
    Sleep(static_cast<DWORD>(limit.count()));
  }
  return interrupt_presses.exchange(0);
}

}  // namespace hj5::cli
