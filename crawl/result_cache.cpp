#include "crawl/result_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "crawl/crawl_scope.h"
#include "platform/mapped_file.h"
#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

constexpr int kCacheFormat = 1;

std::int64_t Seconds(ResultCache::Clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

}  // namespace

bool ResultCache::IsFinal(const ProbeOutcome& outcome) {
  if (outcome.code != kReplyRead || outcome.local || outcome.out_of_descriptors) return false;
  const std::optional<std::uint32_t> status = ParseStatusCode(outcome.reply);
  if (!status || *status < 200 || *status > 599) return false;
  // A host that asked to be left alone a while says nothing about the link.
  if (*status == 429 || *status == 503) return false;
  // A chain that failed on the way for want of a connection is no answer.
  return outcome.chain_end != ChainEnd::kFailed || outcome.chain_code < kUnspecifiedSocketError ||
         outcome.chain_code == kRedirectLoop || outcome.chain_code == kTooManyRedirects;
}

bool ResultCache::Fresh(std::int64_t time) const {
  const std::int64_t age = Seconds(now_) - time;
  return age >= 0 && age <= max_age_.count();
}

Status ImportJsonCache(const std::string& json_file, Store& store) {
  const std::string mark = "json cache " + json_file;
  if (store.HasMark(mark)) return Status::Ok();
  Status why;
  const std::optional<MappedFile> file = MappedFile::Open(json_file, &why);
  if (!file && why.error() == ENOENT) return Status::Ok();  // none to read
  // Far more than a cache of a million links takes.
  constexpr std::size_t kLargestCache = std::size_t{2} << 30;
  if (!file || file->text().size() > kLargestCache) {
    return Status::Error("The link cache " + json_file + " is not used: " +
                             (file ? std::string("it is too large to be one") : why.message()),
                         file ? EFBIG : why.error());
  }
  Status warning =
      Status::Invalid("The link cache " + json_file + " cannot be read; it is ignored");
  const auto json = nlohmann::json::parse(file->text(), nullptr, false);
  if (json.is_discarded() || !json.is_object() || json.value("format", 0) != kCacheFormat ||
      !json.contains("links") || !json["links"].is_object()) {
    return warning;
  }
  std::vector<StoredLink> links;
  try {
    for (const auto& [url, item] : json["links"].items()) {
      ProbeOutcome outcome;
      outcome.code = kReplyRead;
      outcome.reply = item.at("reply").get<std::string>();
      outcome.chain_end = static_cast<ChainEnd>(item.at("chain_end").get<int>());
      outcome.chain_code = item.at("chain_code").get<OutcomeCode>();
      if (outcome.chain_end < ChainEnd::kNotFollowed || outcome.chain_end > ChainEnd::kFailed ||
          !ResultCache::IsFinal(outcome)) {
        throw std::invalid_argument("entry");
      }
      links.push_back({url, item.at("time").get<std::int64_t>(), std::move(outcome.reply),
                       item.at("redirects").get<std::vector<std::string>>(),
                       static_cast<int>(outcome.chain_end), static_cast<int>(outcome.chain_code)});
    }
  } catch (const std::exception&) {
    return warning;
  }
  if (Status kept = store.PutLinks(links); !kept) return kept;
  return store.SetMark(mark);
}

CachePlace CachePlaceOf(const std::string& named) {
  struct stat info {};
  if (::stat(named.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    std::ifstream file(named, std::ios::binary);
    char first = 0;
    while (file.get(first) && std::isspace(static_cast<unsigned char>(first)) != 0) {
    }
    // An older Quimbel's cache is read, never overwritten.
    if (file && first == '{') return {named + ".db", named};
  }
  if (named == DefaultStoreFile()) {
    return {named, std::filesystem::path(named).replace_filename("links.json").string()};
  }
  return {named, {}};
}

bool ResultCache::LeftOut(const std::string& url) const {
  const auto key = PageKey(url);
  if (!key) return false;
  return std::any_of(left_out_.begin(), left_out_.end(), [&](const std::string& origin) {
    return key->starts_with(origin) && key->size() > origin.size() && (*key)[origin.size()] == '/';
  });
}

std::optional<ProbeOutcome> ResultCache::Find(const std::string& url) {
  if (LeftOut(url)) return std::nullopt;
  std::optional<StoredLink> link;
  if (const auto kept = kept_.find(url); kept != kept_.end()) {
    link = kept->second;
  } else {
    link = store_.FindLink(url);
  }
  if (!link || !Fresh(link->time)) return std::nullopt;
  ProbeOutcome outcome;
  outcome.url = url;
  outcome.code = kReplyRead;
  outcome.protocol = ProtocolOf(url);
  outcome.host = UrlHost(url, outcome.protocol);
  outcome.reply = std::move(link->reply);
  outcome.redirects = std::move(link->redirects);
  outcome.chain_end = static_cast<ChainEnd>(link->chain_end);
  outcome.chain_code = static_cast<OutcomeCode>(link->chain_code);
  // A store another program changed is read as carefully as a file.
  if (outcome.chain_end < ChainEnd::kNotFollowed || outcome.chain_end > ChainEnd::kFailed ||
      !IsFinal(outcome)) {
    return std::nullopt;
  }
  return outcome;
}

void ResultCache::Keep(const std::string& url, const ProbeOutcome& outcome) {
  if (!IsFinal(outcome) || LeftOut(url)) return;
  // What judges the link again is the status line and the Location.
  kept_.insert_or_assign(
      url, StoredLink{url, Seconds(now_), outcome.reply, outcome.redirects,
                      static_cast<int>(outcome.chain_end), static_cast<int>(outcome.chain_code)});
  // A batch a transaction: few enough writes, little lost to a kill.
  constexpr std::size_t kBatch = 256;
  if (kept_.size() >= kBatch) (void)WriteKept();
}

Status ResultCache::WriteKept() {
  std::vector<StoredLink> links;
  links.reserve(kept_.size());
  for (auto& [url, link] : kept_)
    links.push_back(std::move(link));
  kept_.clear();
  if (Status written = store_.PutLinks(links); !written && write_failure_.ok()) {
    write_failure_ = written;
  }
  return write_failure_;
}

Status ResultCache::Flush() {
  if (Status written = WriteKept(); !written) return written;
  return store_.DropLinksBefore(Seconds(now_) - max_age_.count());
}

}  // namespace quimbel
