// The link cache of a test: read when the test starts, so that it answers
// links before any probe, and written back when the test ends.
#include <filesystem>

#include "core/link_test.h"

namespace quimbel {

void LinkTest::OpenCache() {
  cache_.reset();
  buffer_.SetCache(nullptr);
  if (settings_.cache_file.empty()) return;
  cache_ = std::make_unique<ResultCache>(settings_.cache_max_age, std::chrono::system_clock::now());
  if (const Status loaded = cache_->Load(settings_.cache_file); !loaded)
    host_.LogWarning(loaded.message() + "\r\n");
  if (!cache_->usable()) {
    cache_.reset();
    return;
  }
  if (crawl_) cache_->LeaveOut(crawl_->crawler().origins());
  buffer_.SetCache(cache_.get());
}

void LinkTest::CloseCache() {
  if (!cache_) return;
  if (buffer_.cache_hits() > 0) {
    host_.LogAppend("Links answered from the cache: " + std::to_string(buffer_.cache_hits()) +
                    "\r\n");
  }
  buffer_.SetCache(nullptr);
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(settings_.cache_file).parent_path(),
                                      error);
  if (const Status saved = cache_->Save(settings_.cache_file); !saved.ok()) {
    host_.LogAppend("The link cache " + settings_.cache_file +
                    " could not be written: " + saved.message() + "\r\n");
  }
  cache_.reset();
}

}  // namespace quimbel
