#include "core/project_config.h"

#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "core/run_options.h"

namespace quimbel {
namespace {

// A string, or a whole number written as one.
std::optional<std::string> ScalarText(const toml::node& node) {
  if (const auto* text = node.as_string()) return text->get();
  if (const auto* number = node.as_integer()) return std::to_string(number->get());
  return std::nullopt;
}

std::string Absolute(const std::filesystem::path& folder, const std::string& path) {
  if (path.empty()) return path;
  return (folder / path).lexically_normal().string();
}

// Takes one key's value into the config; what is wrong with it, if
// anything.
Status ReadOption(const OptionSpec& key, const toml::node& node,
                  const std::filesystem::path& folder, ProjectConfig& config) {
  const std::string option(key.name);
  switch (key.kind) {
    case OptionKind::kSwitch: {
      const auto* flag = node.as_boolean();
      if (flag == nullptr) return Status::Invalid(option + " must be true or false");
      if (flag->get()) config.options.emplace_back(option, "");
      break;
    }
    case OptionKind::kNumber:
    case OptionKind::kText:
    case OptionKind::kPath: {
      auto text = ScalarText(node);
      // A list of codes may be written as an array too.
      if (!text && option == "accept" && node.is_array()) {
        text.emplace();
        for (const toml::node& item : *node.as_array()) {
          const auto code = ScalarText(item);
          if (!code) return Status::Invalid("accept must hold codes or ranges");
          *text += (text->empty() ? "" : ",") + *code;
        }
      }
      if (!text) return Status::Invalid(option + " must be a string or a number");
      config.options.emplace_back(option,
                                  key.kind == OptionKind::kPath ? Absolute(folder, *text) : *text);
      break;
    }
    case OptionKind::kList: {
      std::vector<std::string> items;
      if (const auto* array = node.as_array()) {
        for (const toml::node& item : *array) {
          const auto* text = item.as_string();
          if (text == nullptr) return Status::Invalid(option + " must hold strings");
          items.push_back(text->get());
        }
      } else if (const auto* text = node.as_string()) {
        items.push_back(text->get());
      } else {
        return Status::Invalid(option + " must be a string or an array of strings");
      }
      if (items.size() > kMostPatterns) {
        return Status::Invalid(option + " holds more than " + std::to_string(kMostPatterns) +
                               " patterns");
      }
      for (std::string& item : items)
        config.options.emplace_back(option, std::move(item));
      break;
    }
  }
  return Status::Ok();
}

}  // namespace

bool IsTrustedConfig(const std::string& file) {
  struct stat info {};
  // What cannot even be looked at (a link that loops) is reported by the
  // reading; it can do nothing.
  if (::stat(file.c_str(), &info) != 0) return true;
  // Nor is what is no regular file (a link to a device) passed over in
  // silence: the reading refuses it, and says so.
  if (!S_ISREG(info.st_mode)) return true;
  return info.st_uid == ::geteuid() && (info.st_mode & S_IWOTH) == 0;
}

std::optional<std::string> FindProjectConfig(const std::string& checked_path) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::absolute(checked_path, error);
  if (error) return std::nullopt;
  if (!std::filesystem::is_directory(folder, error)) folder = folder.parent_path();
  const char* home_text = std::getenv("HOME");
  const std::filesystem::path home = home_text != nullptr && *home_text != '\0'
                                         ? std::filesystem::path(home_text).lexically_normal()
                                         : std::filesystem::path();
  for (;; folder = folder.parent_path()) {
    const auto candidate = folder / kProjectConfigName;
    // The entry itself, not what a link names: a broken or looping link is
    // found, and reported when read, rather than passed over in silence.
    const auto entry = std::filesystem::symlink_status(candidate, error);
    if (std::filesystem::exists(entry) && IsTrustedConfig(candidate.string())) {
      return candidate.string();
    }
    // As git does: a repository's root, or the user's home, is the top.
    if (std::filesystem::exists(folder / ".git", error)) return std::nullopt;
    if (!home.empty() && folder.lexically_normal() == home) return std::nullopt;
    if (folder == folder.parent_path()) return std::nullopt;
  }
}

Result<ProjectConfig> LoadProjectConfig(const std::string& file) {
  // Only a regular file is read: a fifo named quimbel.toml would block.
  Status why;
  const auto text = MappedFile::Open(file, &why);
  if (!text) {
    return Status::Error(
        file + ": cannot be read (" +
            (why.error() == EINVAL ? std::string("no regular file") : why.message()) + ")",
        why.error());
  }
  // Options fit in a few kilobytes; a huge file would cost minutes and
  // gigabytes to parse before any link is checked.
  constexpr std::size_t kLargestConfig = 4 << 20;
  if (text->text().size() > kLargestConfig)
    return Status::Error(file + ": larger than 4 MiB, too large for options", EFBIG);
  toml::table table;
  try {
    table = toml::parse(text->text(), file);
  } catch (const toml::parse_error& failure) {
    std::string where = file;
    if (failure.source().begin.line > 0) where += ":" + std::to_string(failure.source().begin.line);
    return Status::Invalid(where + ": " + std::string(failure.description()));
  }
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  ProjectConfig config;
  config.file = file;
  for (const auto& [name, node] : table) {
    const std::string where = file + ":" + std::to_string(node.source().begin.line) + ": ";
    // Actions and files to write are the command line's: a file planted
    // in a folder above must not remove lines or overwrite anything.
    const OptionSpec* key = FindOption(name.str());
    if (key != nullptr && key->config == ConfigUse::kRefused) {
      return Status::Invalid(where + "\"" + std::string(name.str()) +
                             "\" is taken from the command line only, never from a config file");
    }
    if (key == nullptr || key->config != ConfigUse::kKey) {
      return Status::Invalid(where + "\"" + std::string(name.str()) + "\" is no option");
    }
    if (Status read = ReadOption(*key, node, folder, config); !read)
      return Status::Invalid(where + read.message());
  }
  return config;
}

Status ApplyConfigOptions(const ProjectConfig& config, RunOptions& options) {
  // A later source than what the options hold so far: the config's lists
  // take the place of the earlier ones.
  ++options.layer;
  for (const auto& [name, value] : config.options) {
    const OptionSpec* option = FindOption(name);
    if (option == nullptr) return Status::Invalid(config.file + ": \"" + name + "\" is no option");
    if (Status applied = ApplyOption(*option, value, options); !applied)
      return Status::Error(config.file + ": " + applied.message(), applied.error());
  }
  return Status::Ok();
}

}  // namespace quimbel
