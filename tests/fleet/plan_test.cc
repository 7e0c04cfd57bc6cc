// Making a plan: the file read once, every device resolved once.
#include "fleet/plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

namespace hj5::fleet {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Names as a hosts file would give them; every other one unknown.
class FakeLookup final : public NameLookup {
 public:
  std::unique_ptr<PendingLookup> Start(const std::string& host,
                                       Done done) override {
    static const std::map<std::string, std::vector<std::string>> kKnown = {
        {"127.0.0.1", {"127.0.0.1"}},
        {"127.1", {"127.0.0.1"}},
        {"localhost", {"::1", "127.0.0.1"}},
        {"device-a", {"192.0.2.7"}}};
    const auto found = kKnown.find(host);
    done(found == kKnown.end() ? LookupResult{{}, "unknown"}
                               : LookupResult{found->second, ""});
    return std::make_unique<PendingLookup>();
  }
};

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hj5-plan-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
    host_.device_text = [](const std::string& text) { return text; };
    host_.lookup = &lookup_;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

  std::variant<Plan, PlanRefusal> Make(const std::string& csv,
                                       const std::string& file = "") {
    PlanRequest request;
    std::string error;
    request.devices = *ParseDeviceList(csv, {}, &error);
    for (DeviceEntry& device : request.devices.devices) {
      device.login_id = "admin";
      device.password = "pw";
    }
    if (!file.empty()) request.file_path = file;
    return MakePlan(std::move(request), host_);
  }

  fs::path dir_;
  FakeLookup lookup_;
  PlanHost host_;
};

TEST_F(PlanTest, OneDeviceNamedTwiceIsRefusedWithBothLines) {
  const auto same_http = Make("address\n127.0.0.1\ndevice-a\nlocalhost\n");
  ASSERT_TRUE(std::holds_alternative<PlanRefusal>(same_http));
  EXPECT_EQ(std::get<PlanRefusal>(same_http).lines.at(0),
            "line 2 (127.0.0.1:80) and line 4 (localhost:80) are one device: "
            "both reach 127.0.0.1 on HTTP port 80");
  const auto same_ftp =
      Make("address,ftp_port\n127.1:8080,2121\n127.0.0.1:8081,2121\n");
  EXPECT_THAT(std::get<PlanRefusal>(same_ftp).lines.at(0),
              HasSubstr("both reach 127.0.0.1 on FTP port 2121"));
  // Devices apart keep the address their name resolved to; a name that
  // does not resolve is left to its update, which fails as it always did.
  const auto apart =
      Make("address,ftp_port\n127.1:8080,2121\n127.1:8081,2122\nnowhere,\n");
  const Plan& plan = std::get<Plan>(apart);
  EXPECT_EQ(plan.devices[0].session.address, "127.0.0.1");
  EXPECT_EQ(plan.devices[0].label, "127.1:8080");
  EXPECT_EQ(plan.devices[2].session.address, "nowhere");
}

TEST_F(PlanTest, TheFileIsReadOnceAndItsEditsNeverReachTheSnapshot) {
  const std::string xml = "<?xml version=\"1.0\"?>\n" + std::string(300, 'x');
  const std::string path = Write("site.xml", xml);
  for (std::uint64_t memory : {std::uint64_t{1} << 20, std::uint64_t{64}}) {
    host_.snapshot_memory_limit = memory;
    auto made = Make("address\n127.0.0.1\n", path);
    ASSERT_TRUE(std::holds_alternative<Plan>(made));
    const Plan plan = std::get<Plan>(std::move(made));
    EXPECT_EQ(plan.snapshot->in_memory(), memory > xml.size());
    Write("site.xml", "not XML at all");
    fs::remove(path);
    std::string read(plan.snapshot->Size(), '\0');
    std::size_t got = 0;
    ASSERT_TRUE(plan.snapshot->ReadAt(0, read.data(), read.size(), &got).ok());
    EXPECT_EQ(read, xml);
    EXPECT_EQ(plan.snapshot->sha256().size(), 64u);
    Write("site.xml", xml);
  }
  // The click's checks run on the bytes read, in the click's order.
  Write("bad.xml", "hello");
  const auto bad = Make("address\n127.0.0.1\n", (dir_ / "bad.xml").string());
  EXPECT_THAT(std::get<PlanRefusal>(bad).lines.at(0),
              HasSubstr("XML File Format Error."));
}

}  // namespace
}  // namespace hj5::fleet
