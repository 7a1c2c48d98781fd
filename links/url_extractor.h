// Link extraction: the http and ftp links of a file's anchor tags, with
// their link texts.
//
// The text is seen with every CR and LF removed. Each "<A" (either case; it
// also begins <ABBR>, <area> and the like) starts a new anchor stretch that
// runs to the next "<A"; text before the first one is ignored, and the very
// last byte of the file never joins a stretch. Each stretch gives at most one
// link:
//   - the first "HTTP://" (any case), or only when there is none the first
//     "FTP://", not at the stretch's first position;
//   - then a double quote, a ">" after it, and an end mark after that: the
//     first "</A", else "</a", else "<";
//   - the URL is the text from the scheme to the quote, trailing white space
//     removed; the link name is the text between ">" and the end mark, tabs
//     made blanks and trimmed, or the placeholder when it was empty.
// Any bytes are valid input. Memory is bounded by the longest stretch.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/prompter.h"

namespace quimbel {

inline constexpr std::string_view kPlaceholderAnchorName = "Quimbel supplied this anchor name";

struct Link {
  std::string url;
  std::string anchor;
  bool operator==(const Link&) const = default;
};

// Streaming form of the extraction: feed the bytes in any chunks, then
// Finish(). The links come out in file order. One thread at a time.
class LinkScanner {
 public:
  void Feed(std::string_view bytes);
  // Ends the input and returns every link found.
  std::vector<Link> Finish();

 private:
  void EndStretch();
  void Reserve(std::size_t more);

  std::vector<Link> links_;
  // The current stretch. A raw buffer rather than a string: the scanner
  // writes into it byte by byte in its hot loop and must not pay for
  // bounds checks or for clearing memory it is about to overwrite.
  std::unique_ptr<char[]> stretch_;
  std::size_t stretch_size_ = 0;
  std::size_t stretch_capacity_ = 0;
  bool copying_ = false;  // an "<A" has been seen
  // The last byte of the stretch buffer is still in the two-byte window that
  // looks for "<A": it is not part of the stretch until the next byte comes.
  bool has_pending_ = false;
  // ... and that byte is "<": the next byte that is no line break decides.
  bool lt_pending_ = false;
};

// The link of one anchor stretch, if it holds a complete one.
bool TakeLink(std::string_view stretch, Link* link);

// The URL list and the anchor list of a run: parallel, in file order.
struct LinkLists {
  std::deque<std::string> urls;
  std::deque<std::string> anchors;
};

// Appends the links of the file at `path` to `lists` and sets `url_count`
// to the length of the URL list. A file that cannot be opened or read is
// reported through `prompter` ("Error: Cannot open file:\n\n<path>"), leaves
// the lists as they were, and gives false.
bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count,
                 Prompter& prompter);

}  // namespace quimbel
