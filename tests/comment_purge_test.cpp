#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>

#include "core/run_controller.h"
#include "purge/comment_purge.h"
#include "tests/controller_harness.h"
#include "tests/injected_fault.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

using namespace std::chrono_literals;

TEST(CommentPurge, RewritesTheTextWithoutItsComments) {
  const struct {
    std::string before, after;
    int comments;
  } cases[] = {
      {"a\r\nb\nc", "a\r\nb\nc", 0},     // byte for byte, last line without an end
      {"<!-- note -->\r\n", "\r\n", 1},  // a comment alone leaves an empty line
      {"a <!-- x --> b <!-- y --> c\n", "a  b  c\n", 2},
      // Across lines, an empty line inside stays.
      {"p text<!-- start\r\ninside\r\n\r\nend --> more\r\n", "p text\r\n\r\n more\r\n", 1},
      {"<!-- a\nx <!-- y\nz -->\n", "\n\n", 2},  // an opening inside an open comment counts
      {"a<!-->b<!--->c\n", "abc\n", 2},          // "<!-->" and "<!--->" are whole comments
      // A DOCTYPE line stays and opens nothing.
      {"<!DOCTYPE html><!-- x\nkeep me\n", "<!DOCTYPE html><!-- x\nkeep me\n", 0},
      {"<!-- a\nend --> keep <!-- x --> more\n", "\n keep  more\n", 2},
      {"<!-- a\n-->\nb\n", "\n\nb\n", 1},  // a closing line with nothing after
      {"<!-- a -- >\nb\n", "\n", 1},       // "-- >" closes nothing
      {std::string("\0\xff<!--\x80-->\x01\n", 12), std::string("\0\xff\x01\n", 4), 1},
      {std::string(5000, 'x') + "<!--" + std::string(3000, 'y') + "-->z",
       std::string(5000, 'x') + "z", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before.substr(0, 60));
    testing::TempFolder folder;
    const std::string file = folder.Write("p.htm", c.before);
    const PurgeResult result = PurgeFileComments(file);
    EXPECT_TRUE(result.rewritten);
    EXPECT_EQ(result.comments, c.comments);
    EXPECT_EQ(testing::ReadFile(file), c.after);
    // Nothing is left behind in the folder.
    EXPECT_EQ(testing::FolderEntries(folder.path()), std::vector<std::string>{"p.htm"});
  }
}

TEST(CommentPurge, FilesThatCannotBeReplacedAreLeftUntouched) {
  testing::TempFolder folder;
  const std::string text = "a <!-- b --> c\n";
  const std::string read_only = folder.Write("ro.htm", text);
  ::chmod(read_only.c_str(), 0444);
  const std::string missing = (folder.path() / "gone.htm").string();
  for (const std::string& path : {read_only, missing, folder.path().string()}) {
    SCOPED_TRACE(path);
    const PurgeResult result = PurgeFileComments(path);
    EXPECT_FALSE(result.rewritten);
    EXPECT_EQ(result.comments, 0);
    EXPECT_NE(result.status.message().find(path), std::string::npos) << result.status.message();
  }
  EXPECT_EQ(testing::ReadFile(read_only), text);
  struct stat status {};
  ::stat(read_only.c_str(), &status);
  EXPECT_EQ(status.st_mode & 0777, 0444u);

  // Permissions survive a rewrite, set-id and sticky bits too; a link's target is rewritten.
  for (const mode_t mode : {0640, 02640, 04750, 01644}) {
    const std::string shared = folder.Write("shared.htm", text);
    ::chmod(shared.c_str(), mode);
    ::stat(shared.c_str(), &status);
    const mode_t given = status.st_mode & 07777;  // what chmod kept for this user
    const auto link = folder.path() / "link.htm";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(shared, link);
    EXPECT_TRUE(PurgeFileComments(link.string()).rewritten);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(testing::ReadFile(shared), "a  c\n");
    ::stat(shared.c_str(), &status);
    EXPECT_EQ(status.st_mode & 07777, given) << std::oct << mode;
  }
}

// The filter done the slow way: each comment erased and the search started again from the start.
bool LiteralFilter(bool& in_comment, int& comments, std::string text, std::string* out) {
  while (!text.empty()) {
    if (in_comment) {
      const std::size_t close = text.find("-->");
      // Openings inside the comment count too.
      for (std::size_t at = text.find("<!--"); at != std::string::npos && at + 4 <= close;
           at = text.find("<!--", at + 4))
        ++comments;
      if (close == std::string::npos) return false;
      text.erase(0, close + 3);
      in_comment = false;
      continue;
    }
    const std::size_t open = text.find("<!--");
    if (open == std::string::npos || text.find("DOCTYPE") != std::string::npos) break;
    ++comments;
    const std::size_t close = text.find("-->", open);
    if (close == std::string::npos) {
      in_comment = true;
      text.erase(open);
      break;
    }
    text.erase(open, close + 3 - open);
  }
  *out = text;
  return true;
}

TEST(CommentFilter, AgreesWithTheLiteralMethodOnRandomLines) {
  // Pieces that make tokens appear where a comment is cut out.
  const std::string pieces[] = {"<!--", "-->", "<!-", "<!",  "<",    "!",       "-",
                                "--",   ">",   "x",   "DOC", "TYPE", "DOCTYPE", " "};
  std::mt19937 random(20261207);
  for (int round = 0; round < 20000; ++round) {
    CommentFilter fast;
    bool in_comment = false;
    int comments = 0;
    for (int line = 0; line < 3; ++line) {
      std::string text;
      for (int i = static_cast<int>(random() % 16); i > 0; --i)
        text += pieces[random() % std::size(pieces)];
      SCOPED_TRACE(text);
      std::string got, expected;
      const bool kept = fast.FilterLine(text, &got);
      ASSERT_EQ(kept, LiteralFilter(in_comment, comments, text, &expected));
      ASSERT_EQ(kept ? got : expected, expected);  // a line dropped has no text to compare
      ASSERT_EQ(fast.comments(), comments);
    }
  }
}

class PurgeRunTest : public testing::ControllerHarness {
 protected:
  testing::TempFolder site_;
};

TEST_F(PurgeRunTest, LogsEachFileAndEndsLikeATestRun) {
  const std::string a = site_.Write("a.htm", "x<!-- 1 -->y\r\n<!-- 2 -->\r\n");
  const std::string b = site_.Write("b.txt", "no comments");
  controller_->results().AppendResultRow("http://old.test/");
  // No to the question changes nothing at all.
  host_.prompter.answers = {false};
  controller_->StartPurge(site_.path().string(), {false, true, ExtensionFilter::kOff});
  EXPECT_FALSE(controller_->running());
  EXPECT_EQ(controller_->results().size(), 1u);
  EXPECT_EQ(
      host_.prompter.questions,
      (std::vector<std::string>{"Remove all HTML comments from 2 files? This cannot be undone."}));
  host_.prompter.answers = {true};
  controller_->StartPurge(site_.path().string(), {false, true, ExtensionFilter::kOff});
  EXPECT_TRUE(controller_->results().empty());
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(host_.log, "Start of test <date>\n\nTesting: " + a + "\nResults for " + a +
                           ": Comments purged: 2. \n\nTesting: " + b + "\nResults for " + b +
                           ": Comments purged: 0. \n\nEnd of test: <date>\n");
  EXPECT_EQ(testing::ReadFile(a), "xy\r\n\r\n");
  EXPECT_EQ(testing::ReadFile(b), "no comments");
  EXPECT_TRUE(host_.progress_file_only);
  EXPECT_GE(host_.file_bar, host_.file_bar_range);  // the bar ends full
  EXPECT_EQ(host_.connection_status, "Connection Status");
  EXPECT_EQ(host_.method_status, "HTTP Method Status");
  EXPECT_EQ(host_.default_beeps, 1);
  EXPECT_TRUE(controller_->results_ready());
}

TEST_F(PurgeRunTest, StopFinishesTheFileInHandAndAFailedReplaceIsAnError) {
  const std::string a = site_.Write("a.htm", "a<!-- 1 -->\n");
  const std::string b = site_.Write("b.htm", "b<!-- 2 -->\n");
  controller_->StartPurge(site_.path().string(), {false, true, ExtensionFilter::kHtmlOnly},
                          PurgeConfirmation::kGiven);
  controller_->StopTest();  // the worker already has a.htm
  ASSERT_TRUE(RunToEnd());
  loop_.Run(MessageLoop::Clock::now() + 300ms);
  EXPECT_EQ(testing::ReadFile(a), "a\n");
  EXPECT_EQ(testing::ReadFile(b), "b<!-- 2 -->\n");
  EXPECT_EQ(host_.log, "Start of test <date>\n\nTesting: " + a +
                           "\nTesting Stopped by User\nResults for " + a +
                           ": Comments purged: 1. \n\nEnd of test: <date>\n");

  // A new run right away hands its work to the worker only when it is free.
  controller_->StartPurge(b, {}, PurgeConfirmation::kGiven);
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(testing::ReadFile(b), "b\n");

  // A file that cannot be replaced is an error with its reason, and is left as it was.
  const std::string c = site_.Write("c.htm", "c<!-- 3 -->\n");
  testing::InjectedFault full(testing::FaultAt::kWrite, ENOSPC);
  controller_->StartPurge(c, {}, PurgeConfirmation::kGiven);
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(testing::ReadFile(c), "c<!-- 3 -->\n");
  EXPECT_EQ(controller_->purge().failures(), 1);
  EXPECT_EQ(host_.log, "Start of test <date>\n\nTesting: " + c + "\nError: Cannot replace " + c +
                           ": No space left on device\n\nEnd of test: <date>\n");
  EXPECT_EQ(testing::FolderEntries(site_.path()),
            (std::vector<std::string>{"a.htm", "b.htm", "c.htm"}));
}

}  // namespace
}  // namespace quimbel
