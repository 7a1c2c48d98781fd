// RequestLedger: every URL the probe thread has asked for in a run, so
// that each is asked once. A link, a hop of a moved link's chain, a
// crawled page and robots.txt alike: the first transfer that needs a URL
// asks for it, any other that needs it meanwhile waits for that reply, and
// any that needs it later takes the reply kept here. A hop's reply is so
// the run's reply for its URL, and the same link gets the same row
// wherever it stands.
//
// What is kept of a reply is what judging it needs: its outcome code, its
// status line and Location, its Content-Type; each distinct reply once,
// since a site's pages mostly share theirs, and each URL once, in a key
// table: a crawl of a million pages asks for a million URLs. The body of a page goes to
// those that wait for it, and the last few stay for a page that is asked
// for right after (a crawl reaches a page a move led to just as the move's
// reply comes in).
//
// The probe thread's alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/key_table.h"
#include "probe/transfer.h"

namespace quimbel {

class RequestLedger {
 public:
  // Where a transfer about to make a request stands.
  enum class Turn {
    kAsk,       // it asks, for itself and for any that come to wait
    kWaiting,   // the ledger holds it until the asker's reply is in
    kAnswered,  // its outcome is the reply kept: no request
  };
  Turn Take(std::unique_ptr<Transfer>& transfer);

  // The asking transfer's hop has its outcome: it is kept, and the
  // transfers that waited for it come back with it as their outcome.
  std::vector<std::unique_ptr<Transfer>> Answered(Transfer& asker);

  // The URLs asked for so far (tests and benchmarks).
  std::size_t size() const { return keys_.size(); }

  // Forgets every reply; waiting transfers are dropped.
  void Clear();
  // Forgets the replies that are in; requests under way stay.
  void ForgetReplies();

 private:
  struct Asked {
    std::uint32_t reply = 0;  // its place in replies_, once done
    bool done = false;
    // The body went to the crawl at the end of a move: the crawl has read
    // the page there.
    bool crawl_read_it = false;
  };
  // A reply as kept: the part of an outcome judging it reads.
  struct Reply {
    Protocol protocol = Protocol::kHttp;
    std::string host;
    std::string reply;
    bool unreadable_reply = false;
    bool out_of_descriptors = false;
    OutcomeCode code = kReplyRead;
    std::string content_type;
  };
  static void TakeReply(Transfer& transfer, const Reply& reply, const std::string* body);
  // The place of `outcome`'s reply in replies_, added when new.
  std::uint32_t Keep(const ProbeOutcome& outcome);
  void KeepBody(const std::string& key, const std::string& body);
  const std::string* KeptBody(const std::string& key) const;

  KeyTable keys_;
  std::vector<Asked> asked_;  // by key
  std::unordered_map<KeyTable::Id, std::vector<std::unique_ptr<Transfer>>> waiting_;
  std::vector<Reply> replies_;
  std::unordered_map<std::string, std::uint32_t> reply_places_;
  // The last bodies given out, newest last.
  std::deque<std::pair<std::string, std::string>> bodies_;
  std::size_t body_bytes_ = 0;
};

// A reply's header block cut to what judging it reads: its status line and
// its Location line.
std::string JudgedPartOfReply(std::string_view reply);

}  // namespace quimbel
