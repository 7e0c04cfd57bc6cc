#include "xmlcheck/xml_file_check.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

namespace hj5 {
namespace {

namespace fs = std::filesystem;

class XmlFileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hj5-xmlcheck-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(dir_)) << dir_;
  }

  // A FIFO in the folder, where the system has them.
  std::optional<std::string> Fifo() {
#ifdef _WIN32
    return std::nullopt;
#else
    const std::string fifo = (dir_ / "pipe.xml").string();
    if (::mkfifo(fifo.c_str(), 0600) != 0) return std::nullopt;
    return fifo;
#endif
  }

  // What a missing file's cause says: the system's text for "no such file".
  static void ExpectMissing(const std::string& cause) {
#ifdef _WIN32
    EXPECT_TRUE(cause.starts_with("open: ") && cause.size() > 6) << cause;
#else
    EXPECT_EQ(cause, std::string("open: ") + std::strerror(ENOENT));
#endif
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, std::string_view bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
    return path;
  }

  fs::path dir_;
};

// What the check found, in a word.
std::string Verdict(const Status& status) {
  if (status.ok()) return "accepted";
  return status.code() == xml_code::kUnreadable ? "unreadable" : "refused";
}

struct Case {
  const char* what;
  std::string bytes;
  const char* expected;
};

constexpr const char* kAccepted = "accepted";
constexpr const char* kRefused = "refused";

TEST_F(XmlFileCheckTest, OnlyTheFirstNonBlankLineCounts) {
  const Case cases[] = {
      {"empty file", "", kRefused},
      {"blank lines only", "\n\r\n \t\n\v\f\n   ", kRefused},
      {"declaration", "<?xml version=\"1.0\"?>\n<a/>", kAccepted},
      {"leading blanks and tabs", "\n \t  <?xml version=\"1.0\"?>", kAccepted},
      {"declaration alone", "<?xml", kAccepted},
      {"CR LF line ends", "\r\n\r\n<?xml\r\n<a/>\r\n", kAccepted},
      {"comment first", "<!-- c -->\n<?xml version=\"1.0\"?>", kRefused},
      {"upper case", "<?XML version=\"1.0\"?>", kRefused},
      {"shorter than five", "<?xm\n", kRefused},
      {"shorter than five before CR LF", "<?xm\r\nl", kRefused},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF<?xml version=\"1.0\"?>",
       kRefused},
      {"UTF-16 byte-order mark", std::string("\xFF\xFE<\0?\0x\0m\0l\0", 12),
       kRefused},
      {"Ctrl-Z before the declaration", "\n\x1a<?xml", kRefused},
      {"Ctrl-Z inside the declaration", "<?x\x1aml", kRefused},
      {"Ctrl-Z after the declaration", "<?xml\x1a", kAccepted},
      {"a lone CR is part of the line", "<?x\rml", kRefused},
      {"NUL inside", std::string("<?\0xml", 6), kRefused},
      {"non-breaking space is not blank", "\xA0<?xml", kRefused},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Verdict(CheckXmlText(c.bytes)), c.expected) << c.what;
    EXPECT_EQ(Verdict(CheckXmlFile(Write("f.xml", c.bytes))), c.expected)
        << c.what;
  }
}

TEST_F(XmlFileCheckTest, ALineSplitAcrossReadsIsJoined) {
  // The declaration straddles the reader's buffer, with a CR LF before it.
  std::string bytes(128 * 1024 - 3, '\n');
  bytes += "\r\n<?xml";
  EXPECT_EQ(Verdict(CheckXmlFile(Write("split.xml", bytes))), kAccepted);
  bytes = std::string(128 * 1024 - 2, ' ') + "<?x\r\nml";
  EXPECT_EQ(Verdict(CheckXmlFile(Write("split2.xml", bytes))), kRefused);
}

TEST_F(XmlFileCheckTest, WhatCannotBeReadIsAnOpenFailureWithItsCause) {
  const Status missing = CheckXmlFile((dir_ / "missing.xml").string());
  EXPECT_EQ(Verdict(missing), "unreadable");
  EXPECT_EQ(missing.text(), "File Open Failure.");
  ExpectMissing(missing.cause());
  const Status folder = CheckXmlFile(dir_.string());
  EXPECT_EQ(folder.text(), "File Open Failure.");
  EXPECT_FALSE(folder.cause().empty());
  if (std::optional<std::string> fifo = Fifo()) {
    const Status pipe = CheckXmlFile(*fifo);
    EXPECT_EQ(pipe.text(), "File Open Failure.");
    EXPECT_EQ(pipe.cause(), "not a regular file");
  }
  // A file that can be read but is no XML has no text of its own.
  const Status refused = CheckXmlFile(Write("a.xml", "hello"));
  EXPECT_EQ(Verdict(refused), "refused");
  EXPECT_EQ(refused.text(), "");
}

#ifndef _WIN32
TEST_F(XmlFileCheckTest, APathLongerThan260BytesOpens) {
  fs::path deep = dir_;
  for (int i = 0; i < 6; ++i) deep /= std::string(50, 'd');
  fs::create_directories(deep);
  const std::string path = (deep / "update.xml").string();
  ASSERT_GT(path.size(), 260u);
  std::ofstream(path) << "<?xml version=\"1.0\"?>";
  EXPECT_EQ(Verdict(CheckXmlFile(path)), kAccepted);
}
#endif

// Paths are UTF-8 on every system; Windows opens them as UTF-16.
TEST_F(XmlFileCheckTest, AFileInANonLatinFolderOpens) {
  const fs::path folder = dir_ / fs::path(u8"\u65e5\u672c\u0101");
  fs::create_directory(folder);
  std::ofstream(folder / "update.xml", std::ios::binary) << "<?xml";
  const std::u8string path = (folder / "update.xml").u8string();
  EXPECT_EQ(Verdict(CheckXmlFile(std::string(path.begin(), path.end()))),
            kAccepted);
}

}  // namespace
}  // namespace hj5
