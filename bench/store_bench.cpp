// store_bench [ENTRIES]: a link cache of ENTRIES links (default 1,000,000)
// opened and asked 1,000 questions, in the store and, as the baseline in the
// same run, read whole from a JSON file the way an older Quimbel did. Each
// side runs in a process of its own, so its memory is its own: milliseconds
// and the memory the cache added to the process (peak resident size). Then
// two programs writing 10,000 links each into one store at once: entries
// lost (must be 0).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <unordered_map>

#include "crawl/result_cache.h"
#include "platform/mapped_file.h"
#include "store/store.h"

namespace {

using namespace quimbel;
using Clock = std::chrono::steady_clock;

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string Url(long n) {
  return "https://example.org/docs/page-" + std::to_string(n) + ".html";
}

// Runs `side` in a child; what it printed there, with its memory.
struct Measured {
  double ms = 0;
  double mb = 0;
  long found = 0;
};
template <typename Side>
Measured InChild(Side side) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    const long before = PeakKilobytes();
    const auto start = Clock::now();
    const long found = side();
    Measured m{std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
               static_cast<double>(PeakKilobytes() - before) / 1024.0, found};
    (void)!write(pipe_ends[1], &m, sizeof m);
    _exit(0);
  }
  Measured m;
  (void)!read(pipe_ends[0], &m, sizeof m);
  waitpid(child, nullptr, 0);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const long entries = argc > 1 ? std::atol(argv[1]) : 1000000;
  const auto folder =
      std::filesystem::temp_directory_path() / ("quimbel-store-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string json_file = (folder / "links.json").string();
  const std::string store_file = (folder / "store.db").string();
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  {
    std::ofstream json(json_file);
    json << "{\"format\":1,\"links\":{";
    std::vector<StoredLink> links;
    auto store = std::move(Store::Open(store_file)).value();
    for (long n = 0; n < entries; ++n) {
      json << (n ? "," : "") << '"' << Url(n) << "\":{\"time\":" << now
           << ",\"reply\":\"HTTP/1.1 200 OK\\r\\n\\r\\n\",\"redirects\":[],\"chain_end\":0,"
              "\"chain_code\":0}";
      links.push_back({Url(n), now, "HTTP/1.1 200 OK\r\n\r\n", {}, 0, 0});
    }
    json << "}}";
    if (!store->PutLinks(links).ok()) return 1;
  }
  std::mt19937 random(7);
  std::vector<std::string> asked;
  for (int i = 0; i < 1000; ++i)
    asked.push_back(Url(static_cast<long>(random() % static_cast<unsigned>(entries))));

  const Measured json = InChild([&] {
    // What an older Quimbel did at every start: the whole file into memory.
    std::unordered_map<std::string, nlohmann::json> kept;
    const auto file = MappedFile::Open(json_file);
    auto document = nlohmann::json::parse(file->text());
    for (auto& [url, item] : document["links"].items())
      kept.emplace(url, std::move(item));
    long found = 0;
    for (const std::string& url : asked)
      found += kept.count(url) ? 1 : 0;
    return found;
  });
  const Measured store = InChild([&] {
    auto opened = std::move(Store::Open(store_file)).value();
    ResultCache cache(*opened, std::chrono::hours(24), std::chrono::system_clock::now());
    long found = 0;
    for (const std::string& url : asked)
      found += cache.Find(url) ? 1 : 0;
    return found;
  });
  std::printf("cache of %ld links, 1000 asked   time ms   memory added MB   found\n", entries);
  std::printf("  JSON read whole (baseline)   %8.0f   %15.1f   %5ld\n", json.ms, json.mb,
              json.found);
  std::printf("  store                        %8.1f   %15.1f   %5ld\n", store.ms, store.mb,
              store.found);
  std::printf("  store / JSON                 %8.4f   %15.4f\n", store.ms / json.ms,
              store.mb / json.mb);

  // Two writers at once into a fresh store.
  const std::string shared = (folder / "shared.db").string();
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    if (writers[w] == 0) {
      auto opened = std::move(Store::Open(shared)).value();
      ResultCache cache(*opened, std::chrono::hours(24), std::chrono::system_clock::now());
      ProbeOutcome outcome;
      outcome.reply = "HTTP/1.1 200 OK\r\n\r\n";
      for (int n = 0; n < 10000; ++n)
        cache.Keep(Url(n) + "?w=" + std::to_string(w), outcome);
      _exit(cache.Flush().ok() ? 0 : 1);
    }
  }
  int failed = 0;
  for (const pid_t writer : writers) {
    int status = 0;
    waitpid(writer, &status, 0);
    failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
  }
  const long kept = std::move(Store::Open(shared)).value()->LinkCount();
  std::printf("two writers of 10000 links each: %ld kept, %ld lost, %d failed\n", kept,
              20000 - kept, failed);
  std::filesystem::remove_all(folder);
  return kept == 20000 && failed == 0 ? 0 : 1;
}
