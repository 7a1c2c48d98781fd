// make_corpus FOLDER [FILES] [--comments]: writes a reproducible corpus of
// web pages for the benchmarks: ordinary pages with many links in several
// styles, a few minified pages that are one huge line, and a few pages of
// plain text; with --comments, pages also carry HTML comments on their own
// lines, inside lines and across lines. Same seed, same bytes.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

namespace {

std::mt19937 random_engine(1999);

std::size_t Pick(std::size_t n) {
  return random_engine() % n;
}

std::string Word() {
  static const char* words[] = {"news", "about", "contact", "Links", "photos", "the",
                                "page", "site",  "archive", "index", "ftp",    "HOME"};
  return words[Pick(std::size(words))];
}

std::string Url() {
  static const char* schemes[] = {"http://", "HTTP://", "ftp://", "https://", "/", "mailto:"};
  std::string url = schemes[Pick(std::size(schemes))];
  url += "www." + Word() + ".example/" + Word() + "/" + Word() + ".htm";
  if (Pick(4) == 0) url += "?q=" + Word() + "#" + Word();
  return url;
}

std::string Paragraph() {
  std::string text = "<p>";
  for (int i = 0, n = 20 + static_cast<int>(Pick(80)); i < n; ++i)
    text += Word() + " ";
  return text + "</p>\n";
}

std::string Anchor() {
  switch (Pick(5)) {
    case 0:
      return "<A HREF=\"" + Url() + "\">" + Word() + " " + Word() + "</A>\n";
    case 1:
      return "<a href=\"" + Url() + "\"><img src=\"i/" + Word() + ".gif\" alt=\"x\"></a>\n";
    case 2:
      return "<a class=\"nav\"\n   href=\"" + Url() + "\">\t" + Word() + "\n</a>\n";
    case 3:
      return "<area shape=\"rect\" href=\"" + Url() + "\">\n";
    default:
      return "<a href=\"" + Url() + "\">" + Word() + "</a> | ";
  }
}

bool with_comments = false;

std::string Comment() {
  switch (Pick(3)) {
    case 0:
      return "<!-- " + Word() + " " + Word() + " -->\n";
    case 1:
      return "<p>" + Word() + " <!-- " + Word() + " --> " + Word() + "</p>\n";
    default:
      return "<!--\n  " + Word() + "\n  " + Word() + "\n-->\n";
  }
}

std::string Page(bool minified) {
  std::string page = "<html><head><title>" + Word() + "</title></head><body>\n";
  for (int block = 0, n = 20 + static_cast<int>(Pick(200)); block < n; ++block) {
    page += Pick(3) == 0 ? Paragraph() : Anchor();
    if (with_comments && Pick(4) == 0) page += Comment();
  }
  page += "</body></html>\n";
  if (minified) std::erase(page, '\n');
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make_corpus FOLDER [FILES]\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  const int files = argc > 2 ? std::stoi(argv[2]) : 3000;
  with_comments = argc > 3 && std::string(argv[3]) == "--comments";
  std::size_t bytes = 0;
  for (int i = 0; i < files; ++i) {
    // Appending, not operator+, keeps GCC 12's -Wrestrict false alarm away.
    std::string folder_name = "d";
    folder_name += std::to_string(i % 30);
    std::string file_name = "page";
    file_name += std::to_string(i);
    file_name += ".htm";
    const auto sub = folder / folder_name;
    std::filesystem::create_directories(sub);
    std::string contents;
    if (i % 500 == 7) {
      // A minified site map: one line of a few megabytes.
      for (int j = 0; j < 60; ++j)
        contents += Page(true);
    } else if (i % 97 == 3) {
      for (int j = 0; j < 200; ++j)
        contents += Paragraph();
    } else {
      contents = Page(false);
    }
    std::ofstream(sub / file_name, std::ios::binary) << contents;
    bytes += contents.size();
  }
  std::cout << files << " files, " << bytes / (1 << 20) << " MiB in " << folder.string() << "\n";
  return 0;
}
