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

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs quimbel-cli with its settings in `config`, standard output and
// error captured; `interrupt_after` sends Ctrl+C once that time has passed.
class Cli {
 public:
  Result Run(std::vector<std::string> args,
             std::optional<std::chrono::milliseconds> interrupt_after = std::nullopt) {
    args.insert(args.begin(), QUIMBEL_CLI_PATH);
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

    const std::string out = (io.path() / "out").string(), err = (io.path() / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string& stdout_path = stdout_to.empty() ? out : stdout_to;
    posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = 0;
    Result result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) return result;
    posix_spawn_file_actions_destroy(&actions);
    if (interrupt_after) {
      std::this_thread::sleep_for(*interrupt_after);
      ::kill(pid, SIGINT);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = testing::ReadFile(out);
    result.err = std::regex_replace(testing::ReadFile(err),
                                    std::regex("(Start of test |End of test: ).*"), "$1<date>");
    return result;
  }

  testing::TempFolder config;
  testing::TempFolder io;
  std::string stdout_to;  // empty: captured into Result::out
  std::string cwd;        // empty: this process's own folder
};

}  // namespace quimbel
