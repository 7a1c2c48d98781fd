// File collection: the ordered list of files a test run or a comment purge
// works through. Runs on the user-interface thread before the run starts.
//
// Paths are the folder as given, "/", and the name; a folder given with a
// trailing "/" therefore yields a doubled one. Entries are taken sorted by
// name in byte order, so runs are reproducible; sub-folders are walked in the
// reverse of that order, each completely before the next. Only regular files
// are collected (a fifo or device would block the run), each real file
// once, and never the temporary files an interrupted run left. Symbolic
// links to folders are never followed, and a folder that cannot be listed
// adds nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

enum class ExtensionFilter { kOff, kHtmlOnly };

// The 13 HTML-like extensions and Markdown's two, upper case, in the order
// the file selection dialog lists them.
const std::vector<std::string>& HtmlExtensions();

// True when the text after the last "." of the whole path, upper-cased, is
// one of HtmlExtensions().
bool HasHtmlExtension(std::string_view path);

// Appends the files of `folder` (not of its sub-folders).
void CollectFolder(std::vector<std::string>& target, const std::string& folder,
                   ExtensionFilter filter);

// Appends the files of `folder`, then depth first those of every sub-folder
// whose name does not begin with ".".
void CollectTree(std::vector<std::string>& target, const std::string& folder,
                 ExtensionFilter filter);

// What a run takes from the path it is given.
struct RunScope {
  bool recurse = false;
  bool all_files = false;
  ExtensionFilter filter = ExtensionFilter::kOff;
};

// The files of a run, by the file selection's flags: neither flag, the path
// itself whatever its extension; all files, the folder's files; all files and
// recurse, the whole tree; recurse alone, nothing.
std::vector<std::string> CollectFiles(const std::string& path, const RunScope& scope);

}  // namespace quimbel
