// quimbel-cli: the link checker without a window.
//
// Probes the links of the named files and folders (folders with all their
// sub-folders), and any URLs named directly, one at a time on the probe
// worker, and prints one line per link: the file, the URL, the link text
// and the outcome (the reply's status line, or the reason text of a
// connection-level failure).
//
//   quimbel-cli [--timeout SECONDS] (FILE | FOLDER | URL)...
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/file_collection.h"
#include "core/message_loop.h"
#include "core/status_code_table.h"
#include "links/url_extractor.h"
#include "probe/probe_worker.h"

namespace {

struct QuietBeeper : quimbel::Beeper {
  void Beep(quimbel::BeepKind) override {}
};

struct PrintingPrompter : quimbel::Prompter {
  void ShowMessage(const std::string& text, quimbel::MessageIcon) override {
    std::cerr << text << "\n";
  }
  bool AskYesNo(const std::string& text, quimbel::MessageIcon) override {
    std::cerr << text << " (answered No)\n";
    return false;
  }
};

struct Target {
  std::string file;  // empty for a URL named on the command line
  std::string url;
  std::string anchor;
};

int Usage() {
  std::cerr << "usage: quimbel-cli [--timeout SECONDS] (FILE | FOLDER | URL)...\n";
  return 2;
}

bool LooksLikeUrl(const std::string& text) {
  std::string head = text.substr(0, 7);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return head.rfind("http://", 0) == 0 || head.rfind("ftp://", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quimbel;
  int timeout_seconds = 15;
  std::vector<Target> targets;
  PrintingPrompter prompter;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--timeout" && i + 1 < argc) {
      timeout_seconds = std::atoi(argv[++i]);
      if (timeout_seconds < 1) return Usage();
    } else if (arg.rfind("--", 0) == 0) {
      return Usage();
    } else if (LooksLikeUrl(arg)) {
      targets.push_back({"", arg, ""});
    } else {
      const bool folder = std::filesystem::is_directory(arg);
      for (const auto& file : CollectFiles(arg, folder, folder, ExtensionFilter::kOff)) {
        LinkLists lists;
        std::size_t count = 0;
        if (!ExtractUrls(file, lists, count, prompter)) return 1;
        for (std::size_t n = 0; n < count; ++n) {
          targets.push_back({file, lists.urls[n], lists.anchors[n]});
        }
      }
    }
  }
  if (argc < 2) return Usage();

  MessageLoop loop;
  int failures = 0;
  QuietBeeper beeper;
  bool unknown_seen = false;
  std::string result;
  LoopPoster poster(loop, [&](const WorkerMessage& message) {
    if (message.id != MessageId::kProbeDone) return;
    const auto& outcome = std::any_cast<const ProbeOutcome&>(message.payload);
    if (outcome.code != kReplyRead) {
      result = ReasonText(outcome.code, unknown_seen, beeper);
      ++failures;
    } else if (outcome.protocol == Protocol::kFtp) {
      result = "connected";
    } else {
      result = outcome.reply.substr(0, outcome.reply.find_first_of("\r\n"));
      if (result.empty()) result = "no reply";
    }
    loop.Quit();
  });
  ProbeWorker worker(poster);
  worker.Start();
  for (const Target& target : targets) {
    worker.Kick({target.url, std::chrono::seconds(timeout_seconds)});
    loop.Run();
    std::cout << target.file << '\t' << target.url << '\t' << target.anchor << '\t' << result
              << '\n';
  }
  return failures == 0 ? 0 : 1;
}
