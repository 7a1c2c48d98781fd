#include "core/project_config.h"

#include <sys/stat.h>
#include <toml++/toml.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace quimbel {
namespace {

enum class Kind { kSwitch, kValue, kPath, kList };

struct Key {
  std::string_view name;
  Kind kind;
};

constexpr std::array<Key, 22> kKeys = {{
    {"all-files", Kind::kSwitch},    {"recurse", Kind::kSwitch},   {"html-only", Kind::kSwitch},
    {"purge", Kind::kSwitch},        {"timeout", Kind::kValue},    {"filter", Kind::kValue},
    {"hawk", Kind::kSwitch},         {"one-eye", Kind::kSwitch},   {"parallel", Kind::kValue},
    {"per-host", Kind::kValue},      {"user-agent", Kind::kValue}, {"ca-file", Kind::kPath},
    {"insecure", Kind::kSwitch},     {"root", Kind::kPath},        {"site-url", Kind::kValue},
    {"no-resources", Kind::kSwitch}, {"quiet", Kind::kSwitch},     {"format", Kind::kValue},
    {"exclude", Kind::kList},        {"include", Kind::kList},     {"accept", Kind::kValue},
    {"max-redirects", Kind::kValue},
}};

const Key* KeyNamed(std::string_view name) {
  for (const Key& key : kKeys) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

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

}  // namespace

bool IsTrustedConfig(const std::string& file) {
  struct stat info {};
  // What cannot even be looked at (a link that loops) is reported by the
  // reading; it can do nothing.
  if (::stat(file.c_str(), &info) != 0) return true;
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

std::variant<ProjectConfig, std::string> LoadProjectConfig(const std::string& file) {
  // Only a regular file is read: a fifo named quimbel.toml would block.
  const auto text = MappedFile::Open(file);
  if (!text) return file + ": cannot be read (no readable regular file)";
  // Options fit in a few kilobytes; a huge file would cost minutes and
  // gigabytes to parse before any link is checked.
  constexpr std::size_t kLargestConfig = 4 << 20;
  if (text->text().size() > kLargestConfig)
    return file + ": larger than 4 MiB, too large for options";
  toml::table table;
  try {
    table = toml::parse(text->text(), file);
  } catch (const toml::parse_error& failure) {
    std::string where = file;
    if (failure.source().begin.line > 0) where += ":" + std::to_string(failure.source().begin.line);
    return where + ": " + std::string(failure.description());
  }
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  ProjectConfig config;
  config.file = file;
  for (const auto& [name, node] : table) {
    const std::string where = file + ":" + std::to_string(node.source().begin.line) + ": ";
    // Actions and files to write are the command line's: a file planted
    // in a folder above must not remove lines or overwrite anything.
    for (const std::string_view refused : {"repair", "yes", "output", "text", "html"}) {
      if (name.str() == refused) {
        return where + "\"" + std::string(refused) +
               "\" is taken from the command line only, never from a config file";
      }
    }
    const Key* key = KeyNamed(name.str());
    if (key == nullptr) return where + "\"" + std::string(name.str()) + "\" is no option";
    const std::string option(name.str());
    switch (key->kind) {
      case Kind::kSwitch: {
        const auto* flag = node.as_boolean();
        if (flag == nullptr) return where + option + " must be true or false";
        if (flag->get()) config.options.emplace_back(option, "");
        break;
      }
      case Kind::kValue:
      case Kind::kPath: {
        auto text = ScalarText(node);
        // A list of codes may be written as an array too.
        if (!text && option == "accept" && node.is_array()) {
          text.emplace();
          for (const toml::node& item : *node.as_array()) {
            const auto code = ScalarText(item);
            if (!code) return where + "accept must hold codes or ranges";
            *text += (text->empty() ? "" : ",") + *code;
          }
        }
        if (!text) return where + option + " must be a string or a number";
        config.options.emplace_back(option,
                                    key->kind == Kind::kPath ? Absolute(folder, *text) : *text);
        break;
      }
      case Kind::kList: {
        std::vector<std::string> items;
        if (const auto* array = node.as_array()) {
          for (const toml::node& item : *array) {
            const auto* text = item.as_string();
            if (text == nullptr) return where + option + " must hold strings";
            items.push_back(text->get());
          }
        } else if (const auto* text = node.as_string()) {
          items.push_back(text->get());
        } else {
          return where + option + " must be a string or an array of strings";
        }
        if (items.size() > kMostPatterns) {
          return where + option + " holds more than " + std::to_string(kMostPatterns) + " patterns";
        }
        for (std::string& item : items)
          config.options.emplace_back(option, std::move(item));
        break;
      }
    }
  }
  return config;
}

}  // namespace quimbel

namespace quimbel {

std::optional<std::string> ApplyProjectConfig(const ProjectConfig& config,
                                              RunPreferences& preferences) {
  const auto number = [&](const std::string& name, const std::string& text, int low, int high,
                          int& into) -> std::optional<std::string> {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) {
      return config.file + ": " + name + " must be a number from " + std::to_string(low) + " to " +
             std::to_string(high);
    }
    into = static_cast<int>(value);
    return std::nullopt;
  };
  // The config's patterns take the place of the stored ones.
  bool excludes_replaced = false;
  bool includes_replaced = false;
  for (const auto& [name, value] : config.options) {
    std::optional<std::string> error;
    if (name == "timeout") {
      error = number(name, value, 5, 1000, preferences.timeout_seconds);
    } else if (name == "parallel") {
      error = number(name, value, 1, kMostParallelProbes, preferences.probe.parallel);
    } else if (name == "per-host") {
      error = number(name, value, 1, kMostParallelProbes, preferences.probe.per_host);
    } else if (name == "max-redirects") {
      error = number(name, value, 0, kMostRedirects, preferences.probe.max_redirects);
    } else if (name == "filter") {
      const LoadedFilter loaded = LoadFilterText(value);
      if (loaded.reset_to_default || value.find_first_not_of("01") != std::string::npos)
        error = config.file + ": the filter must be 70 (or 43, 65, 66 or 68) characters of 0 and 1";
      else
        preferences.filter = loaded.filter;
    } else if (name == "hawk") {
      preferences.filter = ReportFilter(std::string(kDefaultFilter));
    } else if (name == "one-eye") {
      preferences.filter = ReportFilter(std::string(kTypeBFilter));
    } else if (name == "user-agent") {
      preferences.user_agent = value;
    } else if (name == "root") {
      std::error_code failure;
      if (!std::filesystem::is_directory(value, failure))
        error = config.file + ": the site root is no folder: " + value;
      else
        preferences.local.site_root = value;
    } else if (name == "site-url") {
      preferences.local.site_url = value;
    } else if (name == "no-resources") {
      preferences.local.resources = false;
    } else if (name == "ca-file") {
      preferences.probe.ca_file = value;
    } else if (name == "insecure") {
      preferences.probe.insecure = true;
    } else if (name == "exclude") {
      if (!excludes_replaced) preferences.exclude.clear();
      excludes_replaced = true;
      preferences.exclude.push_back(value);
    } else if (name == "include") {
      if (!includes_replaced) preferences.include.clear();
      includes_replaced = true;
      preferences.include.push_back(value);
    } else if (name == "accept") {
      auto codes = ParseCodeList(value);
      if (auto* message = std::get_if<std::string>(&codes))
        error = config.file + ": " + *message;
      else
        preferences.accept = std::get<std::vector<CodeRange>>(std::move(codes));
    }
    if (error) return error;
  }
  return std::nullopt;
}

}  // namespace quimbel
