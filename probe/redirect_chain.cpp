#include "probe/redirect_chain.h"

#include <algorithm>

#include "links/html_links.h"
#include "links/url_split.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "probe/proxy_rules.h"
#include "probe/reply_parsing.h"
#include "probe/transfer_outcome.h"

namespace quimbel {

std::optional<OutcomeCode> AimTransfer(Transfer& transfer) {
  const std::string& url = transfer.outcome.url;
  const Protocol protocol = ProtocolOf(url);
  transfer.outcome.protocol = protocol;
  transfer.outcome.host = UrlHost(url, protocol);
  if (const auto refused = RefusedBeforeTransfer(url, transfer.outcome.host, &transfer.address)) {
    return refused;
  }
  transfer.host_key = std::to_string(static_cast<int>(protocol)) + transfer.address + ':' +
                      std::to_string(*UrlPort(url, protocol));
  transfer.host_key = AsciiLowered(std::move(transfer.host_key));
  transfer.target = UrlPath(url, protocol);
  return std::nullopt;
}

std::optional<std::pair<ChainEnd, OutcomeCode>> TakeNextHop(Transfer& transfer, std::string next,
                                                            const RequestPolicy* policy) {
  if (!transfer.following) {
    transfer.following = true;
    transfer.first = std::move(transfer.outcome);
  }
  std::string key = WithoutFragment(next);
  if (std::find(transfer.visited.begin(), transfer.visited.end(), key) != transfer.visited.end()) {
    return std::pair{ChainEnd::kFailed, kRedirectLoop};
  }
  if (transfer.first.redirects.size() >= static_cast<std::size_t>(transfer.max_redirects)) {
    return std::pair{ChainEnd::kFailed, kTooManyRedirects};
  }
  transfer.visited.push_back(std::move(key));
  transfer.first.redirects.push_back(next);
  // A move to a mail address or the like ends where a probe cannot go.
  if (!IsProbedUrl(next) || (policy != nullptr && !policy->Allows(next))) {
    return std::pair{ChainEnd::kGood, OutcomeCode{0}};
  }
  transfer.outcome = ProbeOutcome();
  transfer.outcome.job = transfer.job;
  transfer.outcome.url = std::move(next);
  transfer.retried = false;
  transfer.deadline.reset();  // each hop has the whole time limit
  return std::nullopt;
}

std::optional<std::chrono::steady_clock::time_point> RetryDue(Transfer& transfer,
                                                              HostPacing& pacing) {
  const std::uint32_t status = ParseStatusCode(transfer.outcome.reply).value_or(0);
  if (status != 429 && status != 503) return std::nullopt;
  const std::optional<int> wait = RetryAfterSeconds(transfer.outcome.reply);
  const auto now = SteadyNow();
  if (status == 429) {
    pacing.HoldOff(transfer.host_key,
                   now + std::chrono::seconds(std::clamp(wait.value_or(1), 1, 60)));
  }
  const auto due = now + std::chrono::seconds(wait.value_or(0));
  // The wait counts against the link's time limit: one that would
  // outlast it is not waited for.
  if (transfer.retried || !wait || *wait < 0 || *wait > kMostRetryAfterSeconds ||
      !transfer.deadline || due >= *transfer.deadline) {
    return std::nullopt;
  }
  transfer.retried = true;
  return due;
}

}  // namespace quimbel
