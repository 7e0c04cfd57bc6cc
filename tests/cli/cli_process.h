#ifndef HJ5_TESTS_CLI_CLI_PROCESS_H_
#define HJ5_TESTS_CLI_CLI_PROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace hj5::test {

// hj5-update run as a child process, its standard output read line by line
// as it comes and its standard error kept in a file. The child ends with
// the object (SIGKILL when it is still running).
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args,
             const std::vector<std::string>& environment);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads until a line for which `wanted` holds has come (true), the output
  // ends or `limit` passes (false).
  bool WaitForLine(const std::function<bool(const std::string&)>& wanted,
                   std::chrono::milliseconds limit);

  // Reads the rest and waits for the end; the exit status, or -1 when the
  // child has not ended within `limit` (it is then killed).
  int Wait(std::chrono::milliseconds limit);

  void Interrupt() { Signal(SIGINT); }  // as Ctrl-C on a terminal
  void Signal(int signal_number);

  const std::vector<std::string>& lines() const { return lines_; }
  std::string ErrorText() const;

 private:
  // Reads what is there within `limit`; false at the end of the output.
  bool ReadSome(std::chrono::milliseconds limit);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string err_path_;
  std::string pending_;
  std::vector<std::string> lines_;
  std::size_t checked_ = 0;  // lines already offered to WaitForLine
};

// One line of --json output; a discarded value when it is no JSON.
nlohmann::json JsonLine(const std::string& line);

// The summary's entry for `device` in the last line of `lines`; an empty
// object when there is none.
nlohmann::json SummaryOf(const std::vector<std::string>& lines,
                         const std::string& device);

// `name` of an event line as text ("" when it is missing or no text).
std::string TextOf(const nlohmann::json& event, const char* name);

}  // namespace hj5::test

#endif  // HJ5_TESTS_CLI_CLI_PROCESS_H_
