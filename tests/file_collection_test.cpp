#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/file_collection.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

TEST(HasHtmlExtension, LastDotOfTheWholePath) {
  struct Case {
    const char* path;
    bool html;
  };
  const Case cases[] = {
      {"/s/INDEX.HTM", true},
      {"/s/page.Shtml", true},
      {"/s/a.php", true},
      {"/s/x.tin", true},
      {"/s/x.jhtml", true},
      {"/s/notes.txt", false},
      {"/s/README", false},
      {"/s/archive.html.bak", false},
      {"/s/site.htm/README", false},  // the "extension" holds a "/"
      {"/s/.htm", true},
      {"/s/x.", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(HasHtmlExtension(c.path), c.html);
  }
  EXPECT_EQ(HtmlExtensions().size(), 13u);
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name :
         {"top/b.htm", "top/a.htm", "top/notes.txt", "top/README", "top/.profile.htm",
          "top/A/a1.htm", "top/A/deep/d.html", "top/B/b1.HTM", "top/.hidden/h.htm", "top/Z.htm"}) {
      folder_.Write(name, "x");
    }
    top_ = (folder_.path() / "top").string();
  }
  std::string P(const std::string& relative) const { return top_ + "/" + relative; }

  testing::TempFolder folder_;
  std::string top_;
};

TEST_F(CollectionTest, ModesOrderAndFilter) {
  struct Case {
    const char* name;
    bool all_files, recurse;
    ExtensionFilter filter;
    Paths expected;
  };
  using F = ExtensionFilter;
  const Case cases[] = {
      {"single file, whatever its extension", false, false, F::kHtmlOnly, {top_ + "/notes.txt"}},
      {"folder, all files in byte order",
       true,
       false,
       F::kOff,
       {P(".profile.htm"), P("README"), P("Z.htm"), P("a.htm"), P("b.htm"), P("notes.txt")}},
      {"folder, HTML only",
       true,
       false,
       F::kHtmlOnly,
       {P(".profile.htm"), P("Z.htm"), P("a.htm"), P("b.htm")}},
      {"tree: own files, then B, then A; dot folders skipped",
       true,
       true,
       F::kHtmlOnly,
       {P(".profile.htm"), P("Z.htm"), P("a.htm"), P("b.htm"), P("B/b1.HTM"), P("A/a1.htm"),
        P("A/deep/d.html")}},
      {"recurse without all files takes nothing", false, true, F::kOff, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.all_files ? top_ : top_ + "/notes.txt";
    EXPECT_EQ(CollectFiles(path, {c.recurse, c.all_files, c.filter}), c.expected);
  }
}

TEST_F(CollectionTest, TrailingSeparatorIsDoubled) {
  Paths files;
  CollectFolder(files, top_ + "/B/", ExtensionFilter::kOff);
  EXPECT_EQ(files, (Paths{top_ + "/B//b1.HTM"}));
}

TEST_F(CollectionTest, LinksFifosAndUnlistableFolders) {
  // A link back to the top would recurse forever if it were followed.
  fs::create_directory_symlink(top_, P("B/loop"));
  fs::create_symlink(P("a.htm"), P("B/link.htm"));
  fs::create_symlink(P("gone.htm"), P("B/dangling.htm"));
  ASSERT_EQ(::mkfifo(P("B/pipe.htm").c_str(), 0600), 0);
  Paths files;
  CollectTree(files, top_ + "/B", ExtensionFilter::kOff);
  EXPECT_EQ(files, (Paths{P("B/b1.HTM"), P("B/link.htm")}));

  // In one run each real file counts once, under its first path, and what
  // an interrupted run left behind is no page.
  folder_.Write("top/B/.~quimbel-Ab12Cd", "half a page");
  folder_.Write("top/B/b1.t~p", "half a page");
  fs::create_symlink(P("B/b1.HTM"), P("B/c-link.htm"));
  EXPECT_EQ(CollectFiles(top_ + "/B", {.recurse = false, .all_files = true}),
            (Paths{P("B/b1.HTM"), P("B/link.htm")}));

  files.clear();
  CollectTree(files, top_ + "/no-such-folder", ExtensionFilter::kOff);
  CollectFolder(files, P("a.htm"), ExtensionFilter::kOff);
  EXPECT_TRUE(files.empty());
}

}  // namespace
}  // namespace quimbel
