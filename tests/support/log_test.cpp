#include "support/log.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "support/datetime.hpp"
#include "support/errors.hpp"
#include "support/scoped_settings.hpp"
#include "testkit/testkit.hpp"

namespace lumirex {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ScopedBaseDir;

double Day(int year, int month, int day, int hour = 0) {
  return EncodeDateTime({year, month, day, hour}).value();
}

TEST(LogFilePathTest, OneFilePerDayInAFolderPerYear) {
  ScopedBaseDir base("/srv/pos");
  const std::pair<double, std::string> cases[] = {
      {Day(2026, 12, 7, 15),
       "/srv/pos/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_2026/LogIntegracaoOrvo_0712.txt"},
      {Day(2024, 3, 1),
       "/srv/pos/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_2024/LogIntegracaoOrvo_0103.txt"},
      {Day(2024, 12, 31, 23),
       "/srv/pos/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_2024/LogIntegracaoOrvo_3112.txt"},
  };
  for (const auto& [when, path] : cases) EXPECT_EQ(LogFilePathFor(when), path);
}

TEST(LogFilePathTest, TrailingSlashOfTheBaseFolderIsDropped) {
  ScopedBaseDir base("/srv/pos//");
  EXPECT_EQ(LogFilePathFor(Day(2024, 3, 1)),
            "/srv/pos/Dados/LogIntegracaoOrvo/LogIntegracaoOrvo_2024/LogIntegracaoOrvo_0103.txt");
}

class WriteLogLineTest : public ::testing::Test {
 protected:
  // The file written now; a test that straddles midnight may see either day.
  fs::path WrittenFile() const {
    const fs::path today = LogFilePathFor(Now());
    if (fs::exists(today)) return today;
    return LogFilePathFor(Now() - 1);
  }

  testkit::TempDir dir_;
  ScopedBaseDir base_{dir_.str()};
};

const std::regex kStamp(R"(\d\d/\d\d/\d{4}( \d\d:\d\d:\d\d)?)");

TEST_F(WriteLogLineTest, FirstLineCreatesTheFoldersAndTheFile) {
  ASSERT_FALSE(fs::exists(dir_.path() / "Dados"));
  WriteLogLine("INICIO");
  const auto lines = testkit::ReadCrlfLines(WrittenFile());
  ASSERT_EQ(lines.size(), 1u);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, std::regex(R"((.+) - INICIO)")));
  EXPECT_TRUE(std::regex_match(match[1].str(), kStamp)) << lines[0];
  EXPECT_EQ(testkit::ReadFile(WrittenFile()).substr(lines[0].size()), "\r\n");
}

TEST_F(WriteLogLineTest, FirstLineOfAYearCreatesOnlyTheYearFolder) {
  const fs::path logs = dir_.path() / "Dados" / "LogIntegracaoOrvo";
  fs::create_directories(logs);
  testkit::WriteFile(logs / "other.txt", "kept");
  WriteLogLine("x");
  EXPECT_TRUE(fs::is_regular_file(WrittenFile()));
  EXPECT_EQ(testkit::ReadFile(logs / "other.txt"), "kept");
}

TEST_F(WriteLogLineTest, LaterLinesAppendWithoutTouchingEarlierOnes) {
  const fs::path file = LogFilePathFor(Now());
  testkit::WriteFile(file, "earlier line\r\n");
  WriteLogLine("one");
  WriteLogLine("two");
  const auto lines = testkit::ReadCrlfLines(WrittenFile());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  EXPECT_THAT(lines[1], ::testing::EndsWith(" - one"));
  EXPECT_THAT(lines[2], ::testing::EndsWith(" - two"));
}

TEST_F(WriteLogLineTest, MessagesAreWrittenByteForByte) {
  const std::string messages[] = {"", "a\nb\r\nc", std::string("nul\0byte \xE9\x80", 11)};
  for (const auto& message : messages) WriteLogLine(message);
  const std::string content = testkit::ReadFile(WrittenFile());
  EXPECT_THAT(content, HasSubstr(" - \r\n"));
  EXPECT_THAT(content, HasSubstr(" - a\nb\r\nc\r\n"));
  EXPECT_THAT(content, HasSubstr(" - " + messages[2] + "\r\n"));
  EXPECT_EQ(testkit::ReadCrlfLines(WrittenFile()).size(), 4u);
}

TEST_F(WriteLogLineTest, ALabelAndATextMakeOneLine) {
  WriteLogLine("RETORNO      = ", "<r>\n</r>");
  WriteLogLine("P_XML        = ", "");
  WriteLogLine("", "");
  const std::string content = testkit::ReadFile(WrittenFile());
  EXPECT_THAT(content, HasSubstr(" - RETORNO      = <r>\n</r>\r\n"));
  EXPECT_THAT(content, HasSubstr(" - P_XML        = \r\n"));
  EXPECT_THAT(content, ::testing::EndsWith(" - \r\n"));
  EXPECT_EQ(testkit::ReadCrlfLines(WrittenFile()).size(), 3u);
}

// The numbers of this process's descriptors open on the file.
std::vector<std::string> DescriptorsOn(const fs::path& file) {
  std::vector<std::string> numbers;
  const fs::path target = fs::weakly_canonical(file);
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == target) {
      numbers.push_back(entry.path().filename().string());
    }
  }
  return numbers;
}

// A session's lines share one descriptor and reach the file together; a
// line for another file (the next day's) appends the first file's lines and
// closes it; a failure still raises naming the path; the session closes what
// it opened.
TEST_F(WriteLogLineTest, ASessionAppendsItsLinesAsOneBlockThroughOneDescriptor) {
  WriteLogLine("alone");
  const fs::path first = WrittenFile();
  EXPECT_THAT(DescriptorsOn(first), ::testing::IsEmpty());
  testkit::TempDir nextDay;
  {
    LogSession session;
    WriteLogLine("one");
    const std::vector<std::string> open = DescriptorsOn(first);
    ASSERT_EQ(open.size(), 1u);
    WriteLogLine("two");
    EXPECT_EQ(DescriptorsOn(first), open);
    EXPECT_EQ(testkit::ReadCrlfLines(first).size(), 1u);

    ScopedBaseDir moved(nextDay.str());
    WriteLogLine("three");
    EXPECT_THAT(DescriptorsOn(first), ::testing::IsEmpty());
    EXPECT_EQ(DescriptorsOn(WrittenFile()).size(), 1u);

    testkit::WriteFile(nextDay.path() / "blocker", "");
    ScopedBaseDir blocked((nextDay.path() / "blocker").string());
    EXPECT_THROW(WriteLogLine("lost"), IOError);
  }
  EXPECT_EQ(testkit::ReadCrlfLines(first).size(), 3u);
  EXPECT_THAT(DescriptorsOn(LogFilePathIn(nextDay.str(), Now())), ::testing::IsEmpty());
}

// The texts of the file's lines, without their time stamps.
std::vector<std::string> TextsOf(const fs::path& file) {
  std::vector<std::string> texts;
  for (const std::string& line : testkit::ReadCrlfLines(file)) {
    texts.push_back(line.substr(line.find(" - ") + 3));
  }
  return texts;
}

// What other threads append while a block is open, their blocks and lines
// written alone (a host's note) even from the block's own thread, lands
// before it, never inside it.
TEST_F(WriteLogLineTest, WhatOthersAppendMeanwhileLandsBeforeTheBlock) {
  {
    LogSession session;
    WriteLogLine("one");
    std::thread([] {
      LogSession other;
      WriteLogLine("a");
      WriteLogLine("b");
    }).join();
    std::thread([] { WriteLogLine("alone"); }).join();
    WriteLogLineAlone("note", "");
    WriteLogLine("two");
  }
  EXPECT_THAT(TextsOf(WrittenFile()), ElementsAre("a", "b", "alone", "note", "one", "two"));
}

// Beside a session that is still open, a block that cannot be appended fails
// its own session, and only it.
TEST_F(WriteLogLineTest, ABlockThatCannotBeWrittenFailsItsOwnSession) {
  LogSession open;
  WriteLogLine("kept");
  std::thread([] {
    LogSession session;
    WriteLogLine("lost");
    testkit::FullFileSystem full;
    EXPECT_THROW(session.Finish(), IOError);
  }).join();
  open.Finish();
  EXPECT_THAT(TextsOf(WrittenFile()), ElementsAre("kept"));
}

// Two processes (a till and `lumirex outbox send`) append blocks to one log at
// once: each block's lines stay together.
TEST_F(WriteLogLineTest, TwoProcessesNeverInterleaveTheirBlocks) {
  constexpr int kBlocks = 200, kLines = 13;
  auto writeBlocks = [](const std::string& who) {
    for (int block = 0; block < kBlocks; ++block) {
      LogSession session;
      for (int line = 0; line < kLines; ++line) {
        WriteLogLine(who + std::to_string(block));
        std::this_thread::yield();
      }
      session.Finish();
    }
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      writeBlocks("child ");
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  writeBlocks("parent ");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::vector<std::string> texts = TextsOf(WrittenFile());
  ASSERT_EQ(texts.size(), 2u * kBlocks * kLines);
  for (std::size_t at = 0; at < texts.size(); at += kLines) {
    for (int line = 1; line < kLines; ++line) ASSERT_EQ(texts[at + line], texts[at]) << at;
  }
}

TEST(WriteLogLineFailureTest, UnwritableBaseFolderRaisesNamingThePath) {
  testkit::TempDir dir;
  // A regular file where a folder should be: no folder can be made below it,
  // whoever runs the test.
  testkit::WriteFile(dir.path() / "blocker", "");
  ScopedBaseDir base((dir.path() / "blocker" / "pos").string());
  const std::string path = LogFilePathFor(Now());
  try {
    WriteLogLine("lost");
    FAIL() << "no exception";
  } catch (const IOError& error) {
    EXPECT_THAT(error.what(), HasSubstr((dir.path() / "blocker" / "pos").string()));
    EXPECT_THAT(error.what(), HasSubstr(std::strerror(ENOTDIR)));
  }
}

// Whatever sits at the day's path that is not a regular file is refused,
// naming the path, and nothing is written through it.
TEST(WriteLogLineFailureTest, OnlyARegularFileIsAppendedTo) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& log, const fs::path& dir)> place;
  };
  const Case cases[] = {
      {"folder", [](const fs::path& log, const fs::path&) { fs::create_directories(log); }},
      // A reader is waiting, so a FIFO opened for writing would take the line.
      {"FIFO",
       [](const fs::path& log, const fs::path&) { ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0); }},
      {"link to another file",
       [](const fs::path& log, const fs::path& dir) {
         testkit::WriteFile(dir / "victim", "kept");
         fs::create_symlink(dir / "victim", log);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testkit::TempDir dir;
    ScopedBaseDir base(dir.str());
    const fs::path log = LogFilePathFor(Now());
    fs::create_directories(log.parent_path());
    c.place(log, dir.path());
    const int reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK);
    try {
      WriteLogLine("lost");
      ADD_FAILURE() << "no exception";
    } catch (const IOError& error) {
      EXPECT_THAT(error.what(), HasSubstr(log.string()));
    }
    if (reader >= 0) ::close(reader);
    if (fs::exists(dir.path() / "victim")) {
      EXPECT_EQ(testkit::ReadFile(dir.path() / "victim"), "kept");
    }
  }
}

// Run as root (a support tool, a timer) under a till's folder, the log is
// left to the till's user: what a root run made first, and what an older one
// left behind, both get the base folder's owner and group.
TEST(WriteLogLineOwnerTest, RunAsRootUnderATillsFolderTheTillsUserOwnsTheLog) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  for (bool leftByRoot : {false, true}) {
    SCOPED_TRACE(leftByRoot ? "an older root run's folders" : "a fresh till");
    testkit::TempDir dir;
    ASSERT_EQ(::chown(dir.path().c_str(), 4321, 5432), 0);
    ScopedBaseDir base(dir.str());
    const fs::path log = LogFilePathFor(Now());
    if (leftByRoot) fs::create_directories(log.parent_path());
    WriteLogLine("INICIO");
    for (fs::path made = log; made != dir.path(); made = made.parent_path()) {
      struct stat status {};
      ASSERT_EQ(::stat(made.c_str(), &status), 0) << made;
      EXPECT_EQ(status.st_uid, 4321u) << made;
      EXPECT_EQ(status.st_gid, 5432u) << made;
    }
  }
}

// The log holds CPFs and names: no one else on the machine may read it, even
// when the host runs with a umask that takes nothing away.
TEST(WriteLogLineModesTest, FoldersAndFileAreTheOwnersAndTheGroups) {
  testkit::TempDir dir;
  ScopedBaseDir base(dir.str());
  const mode_t saved = ::umask(0);
  WriteLogLine("x");
  ::umask(saved);
  const fs::path file = LogFilePathFor(Now());
  for (fs::path folder = file.parent_path(); folder != dir.path(); folder = folder.parent_path()) {
    SCOPED_TRACE(folder.string());
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0750));
  }
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
}

}  // namespace
}  // namespace lumirex
