#include "crawl/result_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "crawl/crawl_scope.h"
#include "platform/mapped_file.h"
#include "platform/text_file.h"
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

bool ResultCache::Fresh(const Entry& entry) const {
  const std::int64_t age = Seconds(now_) - entry.time;
  return age >= 0 && age <= max_age_.count();
}

Status ResultCache::Load(const std::string& path) {
  Status why;
  const std::optional<MappedFile> file = MappedFile::Open(path, &why);
  if (!file && why.error() == ENOENT) return Status::Ok();  // none yet
  // Far more than a cache of a million links takes.
  constexpr std::size_t kLargestCache = std::size_t{2} << 30;
  if (!file || file->text().size() > kLargestCache) {
    usable_ = false;
    return Status::Error("The link cache " + path + " is not used: " +
                             (file ? std::string("it is too large to be one") : why.message()),
                         file ? EFBIG : why.error());
  }
  Status warning = Status::Invalid("The link cache " + path + " cannot be read; it is ignored");
  const auto json = nlohmann::json::parse(file->text(), nullptr, false);
  if (json.is_discarded() || !json.is_object() || json.value("format", 0) != kCacheFormat ||
      !json.contains("links") || !json["links"].is_object()) {
    return warning;
  }
  try {
    for (const auto& [url, item] : json["links"].items()) {
      Entry entry;
      entry.time = item.at("time").get<std::int64_t>();
      entry.outcome.url = url;
      entry.outcome.reply = item.at("reply").get<std::string>();
      entry.outcome.code = kReplyRead;
      entry.outcome.protocol = ProtocolOf(url);
      entry.outcome.host = UrlHost(url, entry.outcome.protocol);
      entry.outcome.redirects = item.at("redirects").get<std::vector<std::string>>();
      entry.outcome.chain_end = static_cast<ChainEnd>(item.at("chain_end").get<int>());
      entry.outcome.chain_code = item.at("chain_code").get<OutcomeCode>();
      if (entry.outcome.chain_end < ChainEnd::kNotFollowed ||
          entry.outcome.chain_end > ChainEnd::kFailed || !IsFinal(entry.outcome)) {
        throw std::invalid_argument("entry");
      }
      if (Fresh(entry)) entries_.insert_or_assign(url, std::move(entry));
    }
  } catch (const std::exception&) {
    entries_.clear();
    return warning;
  }
  return Status::Ok();
}

Status ResultCache::Save(const std::string& path) const {
  nlohmann::json links = nlohmann::json::object();
  for (const auto& [url, entry] : entries_) {
    if (!Fresh(entry)) continue;
    links[url] = {{"time", entry.time},
                  {"reply", entry.outcome.reply},
                  {"redirects", entry.outcome.redirects},
                  {"chain_end", static_cast<int>(entry.outcome.chain_end)},
                  {"chain_code", entry.outcome.chain_code}};
  }
  const nlohmann::json document = {{"format", kCacheFormat}, {"links", std::move(links)}};
  // Replies are bytes from the network: invalid UTF-8 is replaced, not fatal.
  const std::string text = document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  struct stat original {};
  if (::stat(path.c_str(), &original) != 0) {
    original.st_mode = 0600;
    original.st_uid = ::geteuid();
    original.st_gid = ::getegid();
  }
  Status status;
  std::optional<ReplacementFile> file = ReplacementFile::CreateBeside(path, &status);
  if (!file) return status;
  file->Write(text);
  return file->Commit(original);
}

bool ResultCache::LeftOut(const std::string& url) const {
  const auto key = PageKey(url);
  if (!key) return false;
  return std::any_of(left_out_.begin(), left_out_.end(), [&](const std::string& origin) {
    return key->starts_with(origin) && key->size() > origin.size() && (*key)[origin.size()] == '/';
  });
}

std::optional<ProbeOutcome> ResultCache::Find(const std::string& url) const {
  if (LeftOut(url)) return std::nullopt;
  const auto found = entries_.find(url);
  if (found == entries_.end() || !Fresh(found->second)) return std::nullopt;
  return found->second.outcome;
}

void ResultCache::Store(const std::string& url, const ProbeOutcome& outcome) {
  if (!IsFinal(outcome) || LeftOut(url)) return;
  Entry entry{Seconds(now_), outcome};
  // What judges the link again is the status line and the Location.
  entry.outcome.body.clear();
  entry.outcome.content_type.clear();
  entries_.insert_or_assign(url, std::move(entry));
}

std::string DefaultCacheFile() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string folder;
  if (cache != nullptr && cache[0] == '/') {
    folder = cache;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : ".") + "/.cache";
  }
  return folder + "/quimbel/links.json";
}

}  // namespace quimbel
