#include "core/file_collection.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "platform/text_file.h"

namespace quimbel {
namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string name;
  bool is_file;    // a regular file, possibly through a symbolic link
  bool is_folder;  // a real folder, not a link to one
};

// The folder's entries sorted by name; empty when it cannot be listed.
std::vector<Entry> ListFolder(const std::string& folder) {
  std::vector<Entry> entries;
  std::error_code error;
  fs::directory_iterator it(fs::path(folder), error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    // The entry's type comes with the listing; only links cost a stat.
    std::error_code ignored;
    const bool is_link = it->is_symlink(ignored);
    entries.push_back({it->path().filename().string(), it->is_regular_file(ignored),
                       !is_link && it->is_directory(ignored)});
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder + "/" + name;
}

}  // namespace

const std::vector<std::string>& HtmlExtensions() {
  static const std::vector<std::string> kExtensions = {"ASP",  "ASPX",  "CFM",   "HTM", "HTML",
                                                       "HTX",  "JHTM",  "JHTML", "JSP", "PHP",
                                                       "SHTM", "SHTML", "TIN",   "MD",  "MARKDOWN"};
  return kExtensions;
}

bool HasHtmlExtension(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string extension(path.substr(dot + 1));
  for (char& c : extension) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const auto& known = HtmlExtensions();
  return std::find(known.begin(), known.end(), extension) != known.end();
}

void CollectFolder(std::vector<std::string>& target, const std::string& folder,
                   ExtensionFilter filter) {
  for (const Entry& entry : ListFolder(folder)) {
    // What an interrupted run left behind is not the author's page.
    if (!entry.is_file || IsLeftoverTemporary(entry.name)) continue;
    std::string path = Join(folder, entry.name);
    if (filter == ExtensionFilter::kHtmlOnly && !HasHtmlExtension(path)) continue;
    target.push_back(std::move(path));
  }
}

void CollectTree(std::vector<std::string>& target, const std::string& folder,
                 ExtensionFilter filter) {
  CollectFolder(target, folder, filter);
  std::vector<std::string> subfolders;
  for (const Entry& entry : ListFolder(folder)) {
    if (entry.is_folder && entry.name.front() != '.') {
      subfolders.push_back(Join(folder, entry.name));
    }
  }
  for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
    CollectTree(target, *it, filter);
}

std::vector<std::string> CollectFiles(const std::string& path, const RunScope& scope) {
  const bool all_files = scope.all_files;
  const bool recurse = scope.recurse;
  const ExtensionFilter filter = scope.filter;
  std::vector<std::string> files;
  if (!all_files && !recurse) {
    files.push_back(path);
  } else if (all_files && !recurse) {
    CollectFolder(files, path, filter);
  } else if (all_files && recurse) {
    CollectTree(files, path, filter);
  }
  // A page reached twice (a link beside its target, a hard link) would be
  // repaired twice: the first path to a file is the one that counts.
  std::set<std::pair<dev_t, ino_t>> seen;
  std::erase_if(files, [&seen](const std::string& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return false;
    return !seen.insert({status.st_dev, status.st_ino}).second;
  });
  return files;
}

}  // namespace quimbel
