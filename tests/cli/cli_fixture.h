#ifndef HJ5_TESTS_CLI_CLI_FIXTURE_H_
#define HJ5_TESTS_CLI_CLI_FIXTURE_H_

// What the tests of hj5-update in real time share: emulated devices on
// loopback, a file to put onto them, the JSON lines read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/emulator_process.h"

namespace hj5::test {

using namespace std::chrono_literals;

// The value of `name` in a JSON line, as text.
inline std::string Field(const std::string& line, const char* name) {
  return TextOf(JsonLine(line), name);
}

inline std::string Port(std::uint16_t port) { return std::to_string(port); }

inline bool HasKind(const std::string& line, const std::string& device,
                    const std::string& kind, const std::string& text = "") {
  return Field(line, "device") == device && Field(line, "kind") == kind &&
         (text.empty() || Field(line, "text") == text);
}

// Emulated devices, each on ports of its own.
inline std::vector<std::unique_ptr<EmulatorProcess>> Devices(
    int count,
    const std::vector<std::string>& args = {"--reboot-seconds", "0.5"}) {
  std::vector<std::unique_ptr<EmulatorProcess>> devices;
  for (int i = 0; i < count; ++i)
    devices.push_back(std::make_unique<EmulatorProcess>(args));
  return devices;
}

inline std::vector<EmulatorProcess*> Pointers(
    const std::vector<std::unique_ptr<EmulatorProcess>>& owned) {
  std::vector<EmulatorProcess*> pointers;
  for (const auto& device : owned) pointers.push_back(device.get());
  return pointers;
}

inline constexpr char kFtpOnRefused[] =
    R"({"match": {"CODE": "svr_ftp_port", "DATA": "21"}, "code": -5})";

class CliE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    content_ = "<?xml version=\"1.0\"?>\r\n<config>\n</config>\n";
    path_ = "/tmp/hj5-cli-e2e-" + std::to_string(::getpid()) + ".xml";
    std::ofstream(path_, std::ios::binary) << content_;
  }
  void TearDown() override {
    std::remove(path_.c_str());
    for (const std::string& folder : folders_)
      std::filesystem::remove_all(folder);
  }

  // A device list for the emulators, the first one's password given in
  // its line, the others' through HJ5_PASSWORD.
  std::string DeviceList(const std::vector<EmulatorProcess*>& devices) {
    const std::string path = path_ + ".csv";
    std::ofstream list(path);
    list << "address,ftp_port,password\n";
    for (std::size_t i = 0; i < devices.size(); ++i) {
      list << "127.0.0.1:" << devices[i]->http_port() << ","
           << devices[i]->ftp_port() << "," << (i == 0 ? "hj5pass" : "")
           << "\n";
    }
    return path;
  }

  // A fresh run folder, removed with the test's files.
  std::string Folder(const std::string& name) {
    const std::string folder = path_ + "." + name;
    std::filesystem::remove_all(folder);
    folders_.push_back(folder);
    return folder;
  }

  static std::string Label(const EmulatorProcess& device) {
    return "127.0.0.1:" + Port(device.http_port());
  }

  std::string content_;
  std::string path_;
  std::vector<std::string> folders_;
  const std::vector<std::string> env_{"HJ5_PASSWORD=hj5pass"};
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_CLI_CLI_FIXTURE_H_
