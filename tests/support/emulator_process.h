#ifndef HJ5_TESTS_SUPPORT_EMULATOR_PROCESS_H_
#define HJ5_TESTS_SUPPORT_EMULATOR_PROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hj5::test {

// Runs the HJ-5 device emulator (emulator/hj5-emulator) as a child process on
// ports the OS picks, with a fresh temporary root folder, and talks to its
// control endpoint. See docs/emulator.md for the emulator's commands, faults
// and control API.
//
// Texts that the emulator recorded or holds (request bodies, raw requests,
// FTP lines, parameter values) come back as the bytes received, unchanged.
//
// Threading: one object is used from one thread at a time.
class EmulatorProcess {
 public:
  // Starts /usr/bin/python3 <emulator> --http-port 0 --ftp-port 0
  // --control-port 0 --root <fresh temp dir> <extra_args...> and waits up to
  // 10 s for its "http=.. ftp=.. control=.." line. On failure ok() is false
  // and error() says why. The emulator also ends when this process dies.
  explicit EmulatorProcess(std::vector<std::string> extra_args = {});

  // Sends SIGTERM, waits, sends SIGKILL after 3 s; removes the temp root.
  ~EmulatorProcess();

  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  // True once the emulator is up and its ports are known.
  bool ok() const { return ok_; }

  // Why starting failed; empty when ok().
  const std::string& error() const { return error_; }

  // The ports the emulator listens on (0 when !ok()).
  std::uint16_t http_port() const { return http_port_; }
  std::uint16_t ftp_port() const { return ftp_port_; }
  std::uint16_t control_port() const { return control_port_; }

  // The emulator's root folder; uploads land in <root>/www.
  const std::string& root() const { return root_; }

  // The bytes of <root>/www/<name>; "" when there is no such file.
  std::string StoredFile(const std::string& name) const;

  // True when <root>/www/<name> exists.
  bool HasStoredFile(const std::string& name) const;

  // The current value of device parameter `name`; "" when it is unknown.
  std::string Param(const std::string& name);

  // Sets (or adds) device parameter `name` to `value`.
  void SetParam(const std::string& name, const std::string& value);

  // Adds one fault, a JSON object as the control API takes it, e.g.
  // R"({"match": {"MODE": "2", "CODE": "user9"}, "code": -5})".
  // A fault the emulator refuses fails the running test (ADD_FAILURE).
  void AddFault(const std::string& json_object);

  // Removes every fault.
  void ClearFaults();

  // Bodies of the HTTP requests received, in order.
  std::vector<std::string> RequestBodies();

  // Whole HTTP requests (head and body) received, in order.
  std::vector<std::string> RawRequests();

  // FTP command lines received, in order, without CRLF, passwords included:
  // "USER x", "PASS y", "TYPE I", "STOR C:\\www\\a.xml", ...
  std::vector<std::string> FtpCommands();

  // Boots so far, counting the start: 1 before any restart.
  int BootCount();

  // Forgets all records and restarts the count for "nth" faults at 1.
  void ClearRecords();

  // Raw access to the control endpoint: sends `method` `path` with `body`,
  // returns the reply body ("" when the exchange failed).
  std::string Control(const std::string& method, const std::string& path,
                      const std::string& body = "");

 private:
  void Start(const std::vector<std::string>& extra_args);
  bool ReadReadyLine();
  void Stop();

  bool ok_ = false;
  std::string error_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  std::uint16_t http_port_ = 0;
  std::uint16_t ftp_port_ = 0;
  std::uint16_t control_port_ = 0;
  std::string root_;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_EMULATOR_PROCESS_H_
