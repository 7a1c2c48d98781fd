// RequestLedger: every URL the probe thread has asked for in a run, so
// that each is asked once. A link, a hop of a moved link's chain, a
// crawled page and robots.txt alike: the first transfer that needs a URL
// asks for it, any other that needs it meanwhile waits for that reply, and
// any that needs it later takes the reply kept here. A hop's reply is so
// the run's reply for its URL, and the same link gets the same row
// wherever it stands.
//
// What is kept of a reply is what judging it needs: its outcome code, its
// status line and Location, its Content-Type. The body of a page goes to
// those that wait for it, and the last few stay for a page that is asked
// for right after (a crawl reaches a page a move led to just as the move's
// reply comes in).
//
// The probe thread's alone.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

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
  std::size_t size() const { return asked_.size(); }

  // Forgets every reply; waiting transfers are dropped.
  void Clear();
  // Forgets the replies that are in; requests under way stay.
  void ForgetReplies();

 private:
  struct Asked {
    bool done = false;
    ProbeOutcome reply;  // once done, without its body
    // The body went to the crawl at the end of a move: the crawl has read
    // the page there.
    bool crawl_read_it = false;
    std::vector<std::unique_ptr<Transfer>> waiting;
  };
  void KeepBody(const std::string& key, const std::string& body);
  const std::string* KeptBody(const std::string& key) const;

  std::unordered_map<std::string, Asked> asked_;
  // The last bodies given out, newest last.
  std::deque<std::pair<std::string, std::string>> bodies_;
  std::size_t body_bytes_ = 0;
};

// A reply's header block cut to what judging it reads: its status line and
// its Location line.
std::string JudgedPartOfReply(std::string_view reply);

}  // namespace quimbel
