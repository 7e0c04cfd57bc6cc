#include "app/win/program_directory.h"

#include <gtest/gtest.h>

namespace hj5 {
namespace {

TEST(ProgramDirectoryTest, IsThePathUpToItsLastBackslash) {
  EXPECT_EQ(ProgramDirectoryOf(L"C:\\Tools\\HJ5\\hj5-xml-update.exe"),
            L"C:\\Tools\\HJ5");
  // In a root the drive stays, without its backslash.
  EXPECT_EQ(ProgramDirectoryOf(L"C:\\hj5-xml-update.exe"), L"C:");
  // A network path keeps its leading backslashes.
  EXPECT_EQ(ProgramDirectoryOf(L"\\\\server\\hj5.exe"), L"\\\\server");
  EXPECT_EQ(ProgramDirectoryOf(L"hj5.exe"), L"hj5.exe");
}

}  // namespace
}  // namespace hj5
