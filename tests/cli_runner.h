// Cli: runs quimbel-cli as a script would, in a process of its own, with
// its settings in a folder of the test's, and captures what it writes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/temp_folder.h"

namespace quimbel {

struct CliResult {
  int status = -1;
  std::string out, err;
};

// Runs quimbel-cli with its settings in `config`, standard output and
// error captured; `interrupt_after` sends Ctrl+C once that time has passed
// (to the program it is run through, if any).
class Cli {
 public:
  CliResult Run(std::vector<std::string> args,
                std::optional<std::chrono::milliseconds> interrupt_after = std::nullopt) {
    const pid_t pid = Start(std::move(args));
    if (pid <= 0) return {};
    if (interrupt_after) {
      std::this_thread::sleep_for(*interrupt_after);
      ::kill(pid, SIGINT);
    }
    return Finish(pid);
  }

  // Starts quimbel-cli and leaves it running; its process id, or 0.
  pid_t Start(std::vector<std::string> args) {
    args.insert(args.begin(), QUIMBEL_CLI_PATH);
    args.insert(args.begin(), through.begin(), through.end());
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = {"XDG_CONFIG_HOME=" + config.path().string(),
                                         "HOME=" + config.path().string(), "LANG=C"};
    std::vector<char*> env;
    for (auto& e : env_text)
      env.push_back(e.data());
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string& stdout_path = stdout_to.empty() ? OutPath() : stdout_to;
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    const std::string& stderr_path = stderr_to.empty() ? ErrPath() : stderr_to;
    posix_spawn_file_actions_addopen(&actions, 2, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : 0;
  }

  // Waits for a started quimbel-cli to end; its status and what it wrote.
  CliResult Finish(pid_t pid) {
    CliResult result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = testing::ReadFile(OutPath());
    result.err = std::regex_replace(testing::ReadFile(ErrPath()),
                                    std::regex("(Start of test |End of test: ).*"), "$1<date>");
    return result;
  }

  // Where a started quimbel-cli writes, to be read while it runs.
  std::string OutPath() const { return (io.path() / "out").string(); }
  std::string ErrPath() const { return (io.path() / "err").string(); }

  testing::TempFolder config;
  testing::TempFolder io;
  std::string stdout_to;  // empty: captured into CliResult::out
  std::string stderr_to;  // empty: captured into CliResult::err
  std::string cwd;        // empty: this process's own folder
  // A program (by its full path) and its arguments that quimbel-cli is run through.
  std::vector<std::string> through;
};

}  // namespace quimbel
