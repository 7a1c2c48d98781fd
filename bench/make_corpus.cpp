// make_corpus FOLDER [FILES] [--comments | --site]: writes a reproducible corpus of
// web pages for the benchmarks: ordinary pages with many links in several
// styles, a few minified pages that are one huge line, and a few pages of
// plain text; with --comments, pages also carry HTML comments on their own
// lines, inside lines and across lines. With --site, FILES pages of a
// static site whose links are all local instead. Same seed, same bytes.
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

// One page of a static site of `pages` pages in ten folders: 250 local
// links of every kind (other pages with and without fragments, the page's
// own anchors, root-relative links, images), about one in forty broken.
std::string SitePage(int page, int pages) {
  const auto other = [&](bool rooted) {
    const int target = static_cast<int>(Pick(static_cast<std::size_t>(pages)));
    const std::string name =
        "d" + std::to_string(target % 10) + "/p" + std::to_string(target) + ".html";
    if (rooted) return "/" + name;
    return target % 10 == page % 10 ? name.substr(3) : "../" + name;
  };
  const auto id = [] { return "s" + std::to_string(Pick(40) == 0 ? 99 : Pick(50)); };
  std::string text = "<!DOCTYPE html>\n<html><head><title>Page " + std::to_string(page) +
                     "</title><link rel=\"stylesheet\" href=\"../style.css\"></head><body>\n";
  for (int i = 0; i < 50; ++i)
    text += "<h2 id=\"s" + std::to_string(i) + "\">" + Word() + "</h2>\n";
  for (int i = 0; i < 249; ++i) {
    std::string href;
    switch (Pick(20)) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
      case 7:
        href = other(false) + "#" + id();
        break;
      case 8:
      case 9:
      case 10:
      case 11:
        href = "#" + id();
        break;
      case 12:
      case 13:
      case 14:
        href = other(false);
        break;
      case 15:
      case 16:
        href = other(true);
        break;
      case 17:
        href = Pick(10) == 0 ? "gone-" + Word() + ".html" : other(false) + "?q=" + Word();
        break;
      default:
        text +=
            "<img src=\"../img/pic" + std::to_string(Pick(22)) + ".png\" alt=\"" + Word() + "\">\n";
        continue;
    }
    text += "<p><a href=\"" + href + "\">" + Word() + " " + Word() + "</a></p>\n";
  }
  return text + "</body></html>\n";
}

int MakeSite(const std::filesystem::path& folder, int pages) {
  for (int i = 0; i < 20; ++i) {  // pic20 and pic21 are left missing
    std::filesystem::create_directories(folder / "img");
    std::ofstream(folder / "img" / ("pic" + std::to_string(i) + ".png"), std::ios::binary) << "PNG";
  }
  std::ofstream(folder / "style.css") << "body { margin: 0 }\n";
  for (int i = 0; i < pages; ++i) {
    const auto sub = folder / ("d" + std::to_string(i % 10));
    std::filesystem::create_directories(sub);
    std::ofstream(sub / ("p" + std::to_string(i) + ".html"), std::ios::binary)
        << SitePage(i, pages);
  }
  std::ofstream(folder / "index.html") << "<a href=\"d0/p0.html\">Start</a>\n";
  std::cout << pages << " pages, " << pages * 250 << " links in " << folder.string() << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make_corpus FOLDER [FILES] [--comments | --site]\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  if (argc > 3 && std::string(argv[3]) == "--site") return MakeSite(folder, std::stoi(argv[2]));
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
