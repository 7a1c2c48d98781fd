// quimbel-cli: the link checker without a window.
//
// For now it probes the URLs named on the command line, one at a time on
// the probe worker, and prints each outcome: the reply's status line, or the
// reason text of a connection-level failure.
//
//   quimbel-cli [--timeout SECONDS] URL...
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "core/message_loop.h"
#include "core/status_code_table.h"
#include "probe/probe_worker.h"

namespace {

struct QuietBeeper : quimbel::Beeper {
  void Beep(quimbel::BeepKind) override {}
};

int Usage() {
  std::cerr << "usage: quimbel-cli [--timeout SECONDS] URL...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quimbel;
  int timeout_seconds = 15;
  std::vector<std::string> urls;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--timeout" && i + 1 < argc) {
      timeout_seconds = std::atoi(argv[++i]);
      if (timeout_seconds < 1) return Usage();
    } else if (arg.rfind("--", 0) == 0) {
      return Usage();
    } else {
      urls.push_back(arg);
    }
  }
  if (urls.empty()) return Usage();

  MessageLoop loop;
  std::size_t next = 0;
  int failures = 0;
  QuietBeeper beeper;
  bool unknown_seen = false;
  LoopPoster poster(loop, [&](const WorkerMessage& message) {
    if (message.id != MessageId::kProbeDone) return;
    const auto& outcome = std::any_cast<const ProbeOutcome&>(message.payload);
    std::string result;
    if (outcome.code != kReplyRead) {
      result = ReasonText(outcome.code, unknown_seen, beeper);
      ++failures;
    } else if (outcome.protocol == Protocol::kFtp) {
      result = "connected";
    } else {
      result = outcome.reply.substr(0, outcome.reply.find_first_of("\r\n"));
      if (result.empty()) result = "no reply";
    }
    std::cout << outcome.url << '\t' << result << '\n';
    loop.Quit();
  });
  ProbeWorker worker(poster);
  worker.Start();
  for (; next < urls.size(); ++next) {
    worker.Kick({urls[next], std::chrono::seconds(timeout_seconds)});
    loop.Run();
  }
  return failures == 0 ? 0 : 1;
}
