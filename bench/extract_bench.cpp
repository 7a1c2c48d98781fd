// extract_bench FOLDER [--local]: runs the link extraction over every file
// of the folder tree, the way a test run reads them, and prints the bytes,
// links and seconds taken. With --local, the local links are found and
// checked on disk too, as a test run does. Timing is the caller's business
// beyond that.
#include <chrono>
#include <iostream>

#include <cstring>

#include "core/file_collection.h"
#include "core/local_links.h"
#include "links/url_extractor.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: extract_bench FOLDER\n";
    return 2;
  }
  const auto files = quimbel::CollectFiles(argv[1], {.recurse = true, .all_files = true});
  const bool local = argc > 2 && std::strcmp(argv[2], "--local") == 0;
  quimbel::LocalLinkChecker checker({argv[1], "", true});
  std::size_t links = 0;
  std::size_t broken = 0;  // local links whose target or fragment is missing
  const auto start = std::chrono::steady_clock::now();
  for (const auto& file : files) {
    quimbel::LinkLists lists;
    std::size_t count = 0;
    if (local) {
      // As a test run reads a file.
      if (const auto text = quimbel::MappedFile::Open(file)) {
        checker.AddPageLinks(file, text->text(), lists);
        for (const std::uint32_t outcome : lists.local)
          broken +=
              outcome == quimbel::kLocalFileNotFound || outcome == quimbel::kLocalAnchorNotFound;
      }
    } else {
      quimbel::ExtractUrls(file, lists, count);
    }
    links += lists.urls.size();
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::cout << files.size() << " files " << links << " links " << took.count() << " seconds";
  if (local) std::cout << " " << broken << " broken local links";
  std::cout << "\n";
  return 0;
}
