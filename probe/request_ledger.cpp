#include "probe/request_ledger.h"

#include <optional>

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

// Gives `transfer` the reply `reply` got for the same URL.
void TakeReply(Transfer& transfer, const ProbeOutcome& reply, const std::string* body) {
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

}  // namespace

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
  auto [found, added] = asked_.try_emplace(key);
  Asked& asked = found->second;
  if (added) {
    transfer->asking = true;
    return Turn::kAsk;
  }
  if (!asked.done) {
    asked.waiting.push_back(std::move(transfer));
    return Turn::kWaiting;
  }
  const std::string* body = KeptBody(key);
  // A page whose body is gone must be fetched again to be read: the one
  // request a run makes twice, and only when a crawl wants to read a page
  // whose address a plain link's check asked for before.
  const bool page = asked.reply.code == kReplyRead && !asked.reply.content_type.empty() &&
                    ParseStatusCode(asked.reply.reply).value_or(0) / 100 == 2;
  if (WantsBody(*transfer) && body == nullptr && page) {
    // A move's end is no page to read again: asking once more would only
    // fetch what the run has already seen. Nor is a page of the crawl that
    // a move's end already handed to the crawl.
    if (transfer->following || (asked.crawl_read_it && transfer->request.crawled_page)) {
      TakeReply(*transfer, asked.reply, nullptr);
      transfer->outcome.body_withheld = true;
      return Turn::kAnswered;
    }
    transfer->asking = true;
    asked.done = false;
    return Turn::kAsk;
  }
  TakeReply(*transfer, asked.reply, body);
  return Turn::kAnswered;
}

std::vector<std::unique_ptr<Transfer>> RequestLedger::Answered(Transfer& asker) {
  asker.asking = false;
  const std::string key = WithoutFragment(asker.outcome.url);
  Asked& asked = asked_[key];
  asked.done = true;
  asked.reply = asker.outcome;
  asked.reply.body.clear();
  asked.reply.body.shrink_to_fit();
  asked.reply.reply = JudgedPartOfReply(asker.outcome.reply);
  asked.reply.redirects.clear();
  asked.reply.url.clear();
  std::vector<std::unique_ptr<Transfer>> waited = std::move(asked.waiting);
  asked.waiting.clear();
  const bool has_body = !asker.outcome.body.empty();
  if (has_body) KeepBody(key, asker.outcome.body);
  const auto crawl_reads = [&](const Transfer& transfer) {
    return has_body && transfer.following && transfer.request.crawled_page && WantsBody(transfer);
  };
  asked.crawl_read_it = crawl_reads(asker);
  for (auto& transfer : waited) {
    TakeReply(*transfer, asked.reply, has_body ? &asker.outcome.body : nullptr);
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
  std::erase_if(asked_, [](const auto& item) { return item.second.done; });
  bodies_.clear();
  body_bytes_ = 0;
}

void RequestLedger::Clear() {
  asked_.clear();
  bodies_.clear();
  body_bytes_ = 0;
}

}  // namespace quimbel
