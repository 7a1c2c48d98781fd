// large_inputs [FOLDER]: pages far larger than the unit tests write, read
// the way a run reads them, each checked for what must come out of it and
// timed: a 100 MB page of anchors without a line break, an 8 MB anchor at
// the end of a megabyte of random bytes, and a 50 MB minified page whose
// local links are checked on disk. The files go to FOLDER (default: a
// fresh folder under /tmp, removed afterwards). Prints one line per page;
// exits 1 when a page gave the wrong links.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "core/local_links.h"
#include "links/url_extractor.h"

namespace {

int failures = 0;

void Check(bool good, const char* what) {
  if (!good) {
    std::printf("  WRONG: %s\n", what);
    ++failures;
  }
}

void Timed(const char* what, const std::function<void()>& act) {
  const auto start = std::chrono::steady_clock::now();
  act();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%-44s %8.2f s\n", what, took.count());
}

// Many anchors on one 100 MB line: every link is found, none is split.
void HundredMegabytesWithoutALineBreak(const std::filesystem::path& folder) {
  const std::string anchor =
      "<a href=\"http://many.test/page.htm\">Many</a><p>" + std::string(10000, 'f') + "</p>";
  std::string block;
  while (block.size() < (1 << 20))
    block += anchor;
  const std::size_t per_block = block.size() / anchor.size();
  const std::string path = (folder / "huge.htm").string();
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 100; ++i)
      out << block;
    out << ".";
  }
  quimbel::LinkLists lists;
  std::size_t count = 0;
  Timed("100 MB of anchors on one line",
        [&] { Check(quimbel::ExtractUrls(path, lists, count), "read"); });
  Check(count == 100 * per_block, "every anchor of the 100 MB line");
  Check(lists.urls.front() == "http://many.test/page.htm" && lists.anchors.back() == "Many",
        "the first URL and the last link name");
}

// Random bytes, then one anchor whose title is 8 MB long: the link at the
// very end is found.
void GiantAnchor(const std::filesystem::path& folder) {
  std::string text;
  std::mt19937 random(7);
  for (int i = 0; i < (1 << 20); ++i)
    text += static_cast<char>(random());
  text += "<a title=\"" + std::string(8 << 20, 'x') + "\" href=\"http://end.test/\">E</a>.";
  const std::string path = (folder / "giant.htm").string();
  std::ofstream(path, std::ios::binary) << text;
  quimbel::LinkLists lists;
  std::size_t count = 0;
  Timed("an 8 MB anchor after 1 MB of random bytes",
        [&] { Check(quimbel::ExtractUrls(path, lists, count), "read"); });
  Check(!lists.urls.empty() && lists.urls.back() == "http://end.test/", "the link at the end");
}

// A minified page of 50 MB on one line: every link is found, on line 1,
// in file order, the page's own anchors among them.
void FiftyMegabyteMinifiedPage(const std::filesystem::path& folder) {
  std::ofstream(folder / "t.html") << "<p id=\"a\">";
  const std::string block =
      "<a href=\"t.html#a\">T</a><img src=\"gone.png\" alt=\"G\">"
      "<a href=\"http://h.example/\">N</a><a href=\"#own\">O</a><div class=\"filler\">";
  const std::size_t blocks = (50u << 20) / block.size();
  const std::string path = (folder / "big.html").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "<p id=\"own\">";
    for (std::size_t i = 0; i < blocks; ++i)
      out << block;
    out << "<a href=\"#last\">end</a>";
  }
  quimbel::LinkLists lists;
  quimbel::LocalLinkChecker checker({folder.string(), "", true});
  Timed("50 MB minified page, local links checked",
        [&] { Check(checker.AddPageLinks(path, lists), "read"); });
  Check(lists.urls.size() == blocks * 4 + 1, "every link of the 50 MB page");
  std::size_t found = 0, missing = 0, network = 0, misplaced = 0;
  for (std::size_t i = 0; i < lists.urls.size(); ++i) {
    found += lists.local[i] == quimbel::kLocalTargetFound;
    missing += lists.local[i] == quimbel::kLocalFileNotFound;
    network += lists.local[i] == 0 && lists.urls[i] == "http://h.example/";
    misplaced += lists.lines[i] != 1 || (i > 0 && lists.offsets[i] <= lists.offsets[i - 1]);
  }
  Check(found == blocks * 2 && missing == blocks && network == blocks, "the outcomes");
  Check(misplaced == 0, "every link on line 1, in file order");
  Check(lists.urls.back() == "#last" && lists.local.back() == quimbel::kLocalAnchorNotFound,
        "the missing anchor at the end");
}

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = "/tmp/quimbel-large-XXXXXX";
  const bool own = argc < 2;
  if (own && ::mkdtemp(pattern.data()) == nullptr) return 2;
  const std::filesystem::path folder = own ? std::filesystem::path(pattern) : argv[1];
  std::filesystem::create_directories(folder);
  HundredMegabytesWithoutALineBreak(folder);
  GiantAnchor(folder);
  FiftyMegabyteMinifiedPage(folder);
  if (own) std::filesystem::remove_all(folder);
  return failures == 0 ? 0 : 1;
}
