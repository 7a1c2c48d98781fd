// The store of a test: the link cache, which answers links before any
// probe and keeps what the test learnt, and the history of runs, which
// tells the test's rows that are new. Opened when the test starts and
// closed when it ends or stops.
#include <filesystem>

#include "core/link_test.h"

namespace quimbel {
namespace {

std::int64_t SecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void LinkTest::OpenStore() {
  CloseStore();
  fixed_.reset();
  compared_ = false;
  history_line_.clear();
  new_rows_ = 0;
  const bool cache = !settings_.cache_file.empty();
  if (!cache && !settings_.history && !settings_.resume) {
    OpenJournal();
    return;
  }
  const CachePlace place = CachePlaceOf(cache ? settings_.cache_file : DefaultStoreFile());
  const std::string history_problem = "The history of runs in " + place.store + " is not kept: ";
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(place.store).parent_path(), error);
  Result<std::unique_ptr<Store>> opened = Store::Open(place.store);
  if (!opened) {
    host_.LogWarning(
        (cache ? "The link cache " + settings_.cache_file + " is not used: " : history_problem) +
        opened.message() + "\r\n");
    OpenJournal();
    return;
  }
  store_ = std::move(opened).value();
  if (cache) {
    if (!place.json.empty()) ImportOlderCache(place);
    cache_ = std::make_unique<ResultCache>(*store_, settings_.cache_max_age,
                                           std::chrono::system_clock::now());
    if (crawl_) cache_->LeaveOut(crawl_->crawler().origins());
    buffer_.SetCache(cache_.get());
  }
  if (settings_.history) {
    Result<std::unique_ptr<RunHistory>> begun = RunHistory::Begin(*store_, target_, SecondsNow());
    if (begun) {
      history_ = std::move(begun).value();
      compared_ = history_->has_previous();
    } else {
      host_.LogWarning(history_problem + begun.message() + "\r\n");
    }
  }
  OpenJournal();
}

void LinkTest::ImportOlderCache(const CachePlace& place) {
  const std::int64_t before = store_->LinkCount();
  if (const Status imported = ImportJsonCache(place.json, *store_); !imported) {
    host_.LogWarning(imported.message() + "\r\n");
  } else if (const std::int64_t added = store_->LinkCount() - before; added > 0) {
    host_.LogAppend("The link cache " + place.json + " of an older Quimbel was read into " +
                    place.store + ", which keeps the links from now on\r\n");
  }
}

void LinkTest::OpenJournal() {
  if (!crawl_) return;
  if (!store_) {
    // Without a store of the user's, the crawl's pages still need room
    // beyond memory: a temporary one, gone with the run.
    Result<std::unique_ptr<Store>> scratch = Store::OpenScratch();
    if (!scratch) {
      host_.LogWarning("The crawl keeps every page in memory: " + scratch.message() + "\r\n");
      return;
    }
    store_ = std::move(scratch).value();
  }
  if (!settings_.resume) {
    (void)store_->ForgetCrawl(target_);
  } else if (const std::int64_t kept = store_->CrawlPageCount(target_); kept > 0) {
    host_.LogAppend("Resuming the crawl: the " + std::to_string(kept) +
                    " pages it read before are not fetched again\r\n");
  } else {
    host_.LogAppend("There is no stopped crawl of " + target_ + " to resume: it starts afresh\r\n");
  }
  crawl_->crawler().UseJournal({store_.get(), target_, settings_.resume, kWaitingLinksBudget,
                                [this](ProbeOutcome outcome, const std::string& page) {
                                  const std::uint64_t job =
                                      probe_worker_.Answer(std::move(outcome));
                                  buffer_.AddPage(page, job);
                                  return job;
                                }});
}

void LinkTest::CloseStore() {
  if (cache_) {
    if (buffer_.cache_hits() > 0) {
      host_.LogAppend("Links answered from the cache: " + std::to_string(buffer_.cache_hits()) +
                      "\r\n");
    }
    if (const Status flushed = cache_->Flush(); !flushed.ok()) {
      host_.LogAppend("The link cache " + settings_.cache_file +
                      " could not be written: " + flushed.message() + "\r\n");
    }
  }
  buffer_.SetCache(nullptr);
  cache_.reset();
  if (history_) {
    Result<std::int64_t> ended = history_->End(complete_);
    if (!ended) {
      host_.LogAppend("The history of runs in " + store_->path() +
                      " could not be written: " + ended.message() + "\r\n");
    } else if (compared_ && complete_) {
      fixed_ = *ended;
      // Said after the last page's results, with the run's other totals.
      history_line_ = "Since the last run: " + std::to_string(new_rows_) + " new, " +
                      std::to_string(*ended) + " fixed\r\n";
    }
  }
  history_.reset();
  if (crawl_) {
    // A whole crawl leaves nothing to resume; a stopped one leaves its pages.
    if (store_ && complete_) (void)store_->ForgetCrawl(target_);
    crawl_->crawler().UseJournal({});
  }
  store_.reset();
}

void LinkTest::NoteHistoryRow(std::size_t row) {
  if (!history_) return;
  const ResultRow& added = results_.row(row);
  const std::string page = HistoryPage();
  const bool fresh = history_->IsNew(page, added.url());
  results_.SetNewSinceLast(row, fresh);
  new_rows_ += fresh ? 1 : 0;
  history_->AddRow({page, std::string(added.url()), added.line,
                    added.reason != nullptr ? *added.reason : std::string()});
}

std::string LinkTest::HistoryPage() const {
  // Files by their full path, the same from any folder a run starts in.
  if (crawl_ || current_file_.empty()) return current_file_;
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(current_file_, error);
  return error ? current_file_ : full.lexically_normal().string();
}

}  // namespace quimbel
