#include "core/outcome_verdict.h"

#include "core/status_code_table.h"
#include "probe/reply_parsing.h"

namespace quimbel {
namespace {

// The chain of a followed move as a row keeps it: one URL a line.
std::string ChainText(const ProbeOutcome& outcome) {
  std::string chain;
  for (const std::string& url : outcome.redirects)
    chain += (chain.empty() ? "" : "\n") + url;
  return chain;
}

}  // namespace

std::optional<Verdict> OutcomeVerdict(const ProbeOutcome& outcome, const ReportFilter& filter,
                                      bool& unknown_error_seen, Beeper& beeper) {
  if (outcome.local || outcome.code != kReplyRead) {
    if (outcome.code == kLocalTargetFound || !filter.IsReported(outcome.code)) return std::nullopt;
    return Verdict{
        std::string(ReasonText(outcome.code, unknown_error_seen, beeper)), outcome.code, {}, {}};
  }
  if (outcome.protocol == Protocol::kFtp) return std::nullopt;  // a connection is all ftp gets
  if (ReplyText(outcome.reply).empty() && !outcome.unreadable_reply) {
    // The host closed without a word: always worth a row, but no beep.
    return Verdict{std::string(kUnknownErrorReason), 0, {}, {}};
  }
  // A move whose chain ends in a failure is a broken link, listed under
  // that failure, with no alternate URL: a repair must never write a dead
  // link into a page.
  if (outcome.chain_end == ChainEnd::kFailed) {
    if (!filter.IsReported(outcome.chain_code)) return std::nullopt;
    return Verdict{std::string(ReasonText(outcome.chain_code, unknown_error_seen, beeper)),
                   outcome.chain_code,
                   {},
                   ChainText(outcome)};
  }
  // A status line without a number is as unexpected as an unknown code.
  const OutcomeCode status = ParseStatusCode(outcome.reply).value_or(0);
  if (!filter.IsReported(status)) return std::nullopt;
  std::string alternate;
  if (IsMoveCode(status)) {
    // A chain that ends well names its end exactly as it was asked for;
    // one not followed, the first Location.
    alternate = outcome.chain_end == ChainEnd::kGood && !outcome.redirects.empty()
                    ? outcome.redirects.back()
                    : AlternateUrl(outcome.reply, outcome.url);
  }
  return Verdict{std::string(ReasonText(status, unknown_error_seen, beeper)), status,
                 std::move(alternate), ChainText(outcome)};
}

}  // namespace quimbel
