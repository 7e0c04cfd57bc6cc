// A run's folder: the user's own, its files reached through no link, one
// run at a time.
#include "platform/own_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace hj5 {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class OwnFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hj5-own-" + std::to_string(std::random_device{}()));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<OwnFolder> Open(FolderUse use = FolderUse::kWrite) {
    std::unique_ptr<OwnFolder> folder;
    const Status opened = OwnFolder::Open(dir_.string() + "/run", use, &folder);
    EXPECT_TRUE(opened.ok()) << opened.cause();
    return folder;
  }

  fs::path dir_;
};

TEST_F(OwnFolderTest, OneRunAtATimeAndTheLockGoesWithItsHolder) {
  auto first = Open();
  ASSERT_TRUE(first->Lock().ok());
  auto second = Open();
  const Status busy = second->Lock();
  EXPECT_EQ(busy.code(), folder_code::kBusy);
  EXPECT_EQ(busy.cause(), "another run holds it");
  first.reset();
  EXPECT_TRUE(second->Lock().ok());
}

TEST_F(OwnFolderTest, WholeFilesAreReplacedAndReadWithinABound) {
  auto folder = Open();
  ASSERT_TRUE(folder->Write("run.json", "{\"a\": 1}\n").ok());
  ASSERT_TRUE(folder->Write("run.json", "{}\n").ok());
  std::string text;
  ASSERT_TRUE(folder->Read("run.json", 16, &text).ok());
  EXPECT_EQ(text, "{}\n");
  EXPECT_EQ(folder->Read("run.json", 2, &text).code(), folder_code::kTooLarge);
  EXPECT_EQ(folder->Read("none.json", 16, &text).code(),
            folder_code::kNotFound);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "run"),
                          fs::directory_iterator()),
            1);
}

#ifdef _WIN32
// wine neither enforces access lists nor keeps a folder's own: what is
// tested is that a new folder is given one for its user alone (its making
// fails otherwise) and what that list says.
TEST_F(OwnFolderTest, TheFolderGetsAnAccessListForItsOwnerAlone) {
  ASSERT_TRUE(Open());
  const std::wstring sddl = OwnerOnlySddl();
  ASSERT_TRUE(sddl.starts_with(L"D:P(A;OICI;FA;;;S-1-")) << sddl.size();
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  PACL acl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(
      GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
  ASSERT_NE(acl, nullptr);
  EXPECT_EQ(acl->AceCount, 1);
  LocalFree(descriptor);
}
#else
TEST_F(OwnFolderTest, ItsFilesAreItsOwnersAloneAndNoLinkIsFollowed) {
  auto folder = Open();
  ASSERT_TRUE(folder->Write("summary.json", "{}").ok());
  std::unique_ptr<AppendFile> journal;
  ASSERT_TRUE(folder->OpenAppend("journal.jsonl", &journal).ok());
  std::unique_ptr<OwnFolder> logs;
  ASSERT_TRUE(folder->Sub("logs", &logs).ok());
  const auto mode = [&](const char* name) {
    return fs::status(dir_ / "run" / name).permissions() & fs::perms::all;
  };
  EXPECT_EQ(mode(""), fs::perms::owner_all);
  EXPECT_EQ(mode("logs"), fs::perms::owner_all);
  const fs::perms owner_rw = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(mode("summary.json"), owner_rw);
  EXPECT_EQ(mode("journal.jsonl"), owner_rw);

  // Links planted where the run writes or reads: refused, and the files
  // they point at untouched.
  const fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, dir_ / "run" / "logs" / "0001-x.log");
  fs::create_symlink("/dev/zero", dir_ / "run" / "run.json");
  fs::create_symlink(victim, dir_ / "run" / "junit.xml");
  std::unique_ptr<AppendFile> log;
  const Status linked = logs->OpenAppend("0001-x.log", &log);
  EXPECT_EQ(linked.code(), folder_code::kUnsafe);
  EXPECT_EQ(linked.cause(), "0001-x.log: is a symbolic link");
  std::string text;
  EXPECT_EQ(folder->Read("run.json", 1 << 20, &text).code(),
            folder_code::kUnsafe);
  ASSERT_TRUE(folder->Write("junit.xml", "<x/>").ok());  // replaces the link
  EXPECT_FALSE(fs::is_symlink(dir_ / "run" / "junit.xml"));
  std::string kept;
  std::ifstream(victim) >> kept;
  EXPECT_EQ(kept, "keep");

  // A folder others may write is refused, with how to mend it.
  fs::permissions(dir_ / "run", fs::perms::group_write, fs::perm_options::add);
  std::unique_ptr<OwnFolder> refused;
  const Status writable =
      OwnFolder::Open((dir_ / "run").string(), FolderUse::kWrite, &refused);
  EXPECT_EQ(writable.code(), folder_code::kUnsafe);
  EXPECT_THAT(writable.cause(),
              HasSubstr("is writable by group or others (chmod 700 " +
                        (dir_ / "run").string() + ")"));
  // Reading a record takes no such care.
  EXPECT_TRUE(
      OwnFolder::Open((dir_ / "run").string(), FolderUse::kRead, &refused)
          .ok());
}
#endif

}  // namespace
}  // namespace hj5
