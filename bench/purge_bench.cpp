// purge_bench FOLDER: runs the comment purge's file rewrite over every
// file of the folder tree, without the run's pause between files, and
// prints the seconds taken and the comments removed.
#include <chrono>
#include <iostream>

#include "core/file_collection.h"
#include "purge/comment_purge.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: purge_bench FOLDER\n";
    return 2;
  }
  const auto files = quimbel::CollectFiles(argv[1], {.recurse = true, .all_files = true});
  long comments = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& file : files)
    comments += quimbel::PurgeFileComments(file).comments;
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::cout << files.size() << " files " << comments << " comments " << took.count()
            << " seconds\n";
  return 0;
}
