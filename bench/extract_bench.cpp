// extract_bench FOLDER: runs the link extraction over every file of the
// folder tree, the way a test run reads them, and prints the bytes, links
// and seconds taken. Timing is the caller's business beyond that.
#include <chrono>
#include <iostream>

#include "core/file_collection.h"
#include "links/url_extractor.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: extract_bench FOLDER\n";
    return 2;
  }
  const auto files = quimbel::CollectFiles(argv[1], {.recurse = true, .all_files = true});
  std::size_t links = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& file : files) {
    quimbel::LinkLists lists;
    std::size_t count = 0;
    quimbel::ExtractUrls(file, lists, count);
    links += count;
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::cout << files.size() << " files " << links << " links " << took.count() << " seconds\n";
  return 0;
}
