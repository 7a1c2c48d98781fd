#include "probe/request_ledger.h"

#include <optional>
#include <utility>

#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

// Bodies kept after they were handed out: enough for the pages a crawl
// reaches while the reply that led to them is on its way.
constexpr std::size_t kKeptBodies = 32;
constexpr std::size_t kKeptBodyBytes = std::size_t{32} << 20;
constexpr std::size_t kLongestKept = std::size_t{64} << 10;

bool WantsBody(const Transfer& transfer) {
  return transfer.request.body != BodyWanted::kNone;
}

}  // namespace

// Gives `transfer` the reply `reply` got for the same URL.
void RequestLedger::TakeReply(Transfer& transfer, const Reply& reply, const std::string* body) {
  ProbeOutcome& outcome = transfer.outcome;
  outcome.protocol = reply.protocol;
  outcome.host = reply.host;
  outcome.reply = reply.reply;
  outcome.unreadable_reply = reply.unreadable_reply;
  outcome.out_of_descriptors = reply.out_of_descriptors;
  outcome.code = reply.code;
  outcome.content_type = reply.content_type;
  if (body != nullptr && WantsBody(transfer)) outcome.body = *body;
}

std::string JudgedPartOfReply(std::string_view reply) {
  const std::string_view text = ReplyText(reply);
  if (text.empty()) return {};
  std::string kept(text.substr(0, text.find('\n')));
  if (kept.ends_with('\r')) kept.pop_back();
  kept += "\r\n";
  if (const std::optional<std::string> location = LocationOf(text))
    kept += "Location: " + *location + "\r\n";
  // A reply of no header block stays as short as it came.
  if (text.find('\n') != std::string_view::npos) kept += "\r\n";
  return kept;
}

RequestLedger::Turn RequestLedger::Take(std::unique_ptr<Transfer>& transfer) {
  // A URL of megabytes is no link a page repeats, and not worth holding
  // twice: it is asked for as it comes.
  if (transfer->outcome.url.size() > kLongestKept) return Turn::kAsk;
  const std::string key = WithoutFragment(transfer->outcome.url);
  const auto [id, added] = keys_.Add(key);
  if (added) {
    asked_.emplace_back();
    transfer->asking = true;
    return Turn::kAsk;
  }
  Asked& asked = asked_[id];
  if (!asked.done) {
    waiting_[id].push_back(std::move(transfer));
    return Turn::kWaiting;
  }
  const std::string* body = KeptBody(key);
  const Reply& reply = replies_[asked.reply];
  // A page whose body is gone must be fetched again to be read: the one
  // request a run makes twice, and only when a crawl wants to read a page
  // whose address a plain link's check asked for before.
  const bool page = reply.code == kReplyRead && !reply.content_type.empty() &&
                    ParseStatusCode(reply.reply).value_or(0) / 100 == 2;
  if (WantsBody(*transfer) && body == nullptr && page) {
    // A move's end is no page to read again: asking once more would only
    // fetch what the run has already seen. Nor is a page of the crawl that
    // a move's end already handed to the crawl.
    if (transfer->following || (asked.crawl_read_it && transfer->request.crawled_page)) {
      TakeReply(*transfer, reply, nullptr);
      transfer->outcome.body_withheld = true;
      return Turn::kAnswered;
    }
    transfer->asking = true;
    asked.done = false;
    return Turn::kAsk;
  }
  TakeReply(*transfer, reply, body);
  return Turn::kAnswered;
}

std::uint32_t RequestLedger::Keep(const ProbeOutcome& outcome) {
  Reply reply{outcome.protocol,
              outcome.host,
              JudgedPartOfReply(outcome.reply),
              outcome.unreadable_reply,
              outcome.out_of_descriptors,
              outcome.code,
              outcome.content_type};
  std::string text = std::to_string(static_cast<int>(reply.protocol)) + ' ' +
                     std::to_string(reply.code) + ' ' + char('0' + reply.unreadable_reply) +
                     char('0' + reply.out_of_descriptors) + ' ' + reply.host + '\n' +
                     reply.content_type + '\n' + reply.reply;
  const auto [found, added] =
      reply_places_.try_emplace(std::move(text), static_cast<std::uint32_t>(replies_.size()));
  if (added) replies_.push_back(std::move(reply));
  return found->second;
}

std::vector<std::unique_ptr<Transfer>> RequestLedger::Answered(Transfer& asker) {
  asker.asking = false;
  const std::string key = WithoutFragment(asker.outcome.url);
  const KeyTable::Id id = keys_.Add(key).first;
  if (id >= asked_.size()) asked_.resize(id + 1);
  Asked& asked = asked_[id];
  asked.done = true;
  asked.reply = Keep(asker.outcome);
  std::vector<std::unique_ptr<Transfer>> waited;
  if (const auto found = waiting_.find(id); found != waiting_.end()) {
    waited = std::move(found->second);
    waiting_.erase(found);
  }
  const bool has_body = !asker.outcome.body.empty();
  if (has_body) KeepBody(key, asker.outcome.body);
  const auto crawl_reads = [&](const Transfer& transfer) {
    return has_body && transfer.following && transfer.request.crawled_page && WantsBody(transfer);
  };
  asked.crawl_read_it = crawl_reads(asker);
  for (auto& transfer : waited) {
    TakeReply(*transfer, replies_[asked.reply], has_body ? &asker.outcome.body : nullptr);
    asked.crawl_read_it = asked.crawl_read_it || crawl_reads(*transfer);
  }
  return waited;
}

void RequestLedger::KeepBody(const std::string& key, const std::string& body) {
  if (body.size() > kKeptBodyBytes / 4) return;
  bodies_.emplace_back(key, body);
  body_bytes_ += body.size();
  while (bodies_.size() > kKeptBodies || body_bytes_ > kKeptBodyBytes) {
    body_bytes_ -= bodies_.front().second.size();
    bodies_.pop_front();
  }
}

const std::string* RequestLedger::KeptBody(const std::string& key) const {
  for (auto it = bodies_.rbegin(); it != bodies_.rend(); ++it) {
    if (it->first == key) return &it->second;
  }
  return nullptr;
}

void RequestLedger::ForgetReplies() {
  // The requests under way stay, under new numbers.
  KeyTable keys;
  std::vector<Asked> asked;
  std::unordered_map<KeyTable::Id, std::vector<std::unique_ptr<Transfer>>> waiting;
  for (KeyTable::Id id = 0; id < asked_.size(); ++id) {
    if (asked_[id].done) continue;
    const KeyTable::Id kept = keys.Add(keys_.key(id)).first;
    asked.push_back(asked_[id]);
    if (const auto found = waiting_.find(id); found != waiting_.end())
      waiting.emplace(kept, std::move(found->second));
  }
  keys_ = std::move(keys);
  asked_ = std::move(asked);
  waiting_ = std::move(waiting);
  bodies_.clear();
  body_bytes_ = 0;
}

void RequestLedger::Clear() {
  keys_.Clear();
  asked_.clear();
  waiting_.clear();
  replies_.clear();
  reply_places_.clear();
  bodies_.clear();
  body_bytes_ = 0;
}

}  // namespace quimbel
