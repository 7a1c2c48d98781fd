// The project config file, quimbel.toml: the options of a project's link
// checks, kept beside its pages. Any long option of quimbel-cli is a key:
// a switch takes true or false, an option with a value takes a string or
// a number, and one that may be repeated (exclude, include, output) takes
// a string or an array of strings. Paths are relative to the file's
// folder. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/link_rules.h"
#include "core/local_links.h"
#include "core/report_filter.h"
#include "platform/result.h"
#include "probe/probe_worker.h"

namespace quimbel {

inline constexpr const char* kProjectConfigName = "quimbel.toml";

struct ProjectConfig {
  std::string file;  // where it was read
  // Long option names without "--" and their values, as they would be
  // written on the command line (a switch has an empty value); paths made
  // absolute.
  std::vector<std::pair<std::string, std::string>> options;
};

// The quimbel.toml of the folder checked (a file's own folder), or of the
// nearest folder above it that has one, looking no higher than a
// repository's root (a folder with .git) or the user's home. A file owned
// by another user, or writable by others, is passed over.
std::optional<std::string> FindProjectConfig(const std::string& checked_path);
// Whether a config file may be obeyed: the user's own, writable by no one
// else.
bool IsTrustedConfig(const std::string& file);

// Reads the file; a failure whose one-line message names the file, and the line where
// there is one, when it cannot be read, is no TOML or holds a key or value
// that is no option. Actions and write targets (repair, yes, output, text,
// html) are refused: they belong on the command line.
Result<ProjectConfig> LoadProjectConfig(const std::string& file);

struct RunOptions;

// Lays the config's options over `options` as a later source: its lists
// replace those `options` holds. A one-line message naming the file for a
// value that is no good.
Status ApplyConfigOptions(const ProjectConfig& config, RunOptions& options);

}  // namespace quimbel
