// quimbel-cli: the link checker without a window, for scripts and CI.
//
// It runs the same engine as the window: the log lines go to standard
// error, the listing of the rows to standard output. The exit status says
// 0 for no row, 1 for at least one, 2 when the run could not be made, and
// 130 when Ctrl+C stopped it.
#include <exception>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "platform/memory_release.h"
#include "probe/curl_library.h"

int main(int argc, char** argv) {
  // Nothing is meant to throw; if something does, say what in one line
  // rather than abort.
  // A crawl of a million pages grows its tables by doubling: the old ones
  // go back to the system, not into holes the heap keeps.
  quimbel::ReturnLargeBlocksToSystem();
  // libcurl's global state, before any thread starts.
  if (!quimbel::InitialiseCurl()) {
    std::cerr << "quimbel: libcurl could not be set up\n";
    return quimbel::kExitCannotRun;
  }
  try {
    return quimbel::RunCli(argc, argv);
  } catch (const std::exception& failure) {
    std::cerr << "quimbel: unexpected failure: " << failure.what() << '\n';
  } catch (...) {
    std::cerr << "quimbel: unexpected failure\n";
  }
  return quimbel::kExitCannotRun;
}
