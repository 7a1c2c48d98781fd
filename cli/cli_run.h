// quimbel-cli's run: the engine driven by a headless message loop, Ctrl+C
// watched by a thread of its own, and the exit status.
#pragma once

namespace quimbel {

// The exit status: 0 for no row, 1 for at least one, 2 when the run could
// not be made, 130 when Ctrl+C stopped it.
int RunCli(int argc, char** argv);

}  // namespace quimbel
