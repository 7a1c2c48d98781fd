// Link extraction: the http, https and ftp links of a file's anchor tags, with
// their link texts.
//
// The text is seen with every CR and LF removed. Each "<A" (either case; it
// also begins <ABBR>, <area> and the like) starts a new anchor stretch that
// runs to the next "<A"; text before the first one is ignored, and the very
// last byte of the file never joins a stretch. Each stretch gives at most one
// link:
//   - the first "HTTP://" or "HTTPS://" (any case), or only when there is
//     neither the first "FTP://", not at the stretch's first position;
//   - then a double quote, a ">" after it, and an end mark after that: the
//     first "</A", else "</a", else "<";
//   - the URL is the text from the scheme to the quote, trailing white space
//     removed; the link name is the text between ">" and the end mark, tabs
//     made blanks and trimmed, or the placeholder when it was empty.
// Any bytes are valid input. Memory is bounded by the longest stretch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

inline constexpr std::string_view kPlaceholderAnchorName = "Quimbel supplied this anchor name";

struct Link {
  std::string url;
  std::string anchor;
  std::size_t line = 0;    // where the URL starts: 1 + the line feeds before it
  std::size_t offset = 0;  // where the URL starts, in bytes from the start of the file
  bool operator==(const Link&) const = default;
};

// Streaming form of the extraction: hand over the bytes in any chunks, then
// Finish(). The links come out in file order. One thread at a time.
//
// The scanner keeps only the stretch it is in (and the chunk being read),
// so its memory is bounded by the longest stretch plus one chunk. Stretches
// are read where they lie: line breaks are skipped while matching, and
// only a link's own URL and name are copied out.
class LinkScanner {
 public:
  void Feed(std::string_view bytes);

  // Zero-copy feeding: write up to `size` bytes at WriteArea(size), then
  // Commit() the number written.
  char* WriteArea(std::size_t size);
  void Commit(std::size_t written);

  // Ends the input and returns every link found; the scanner is then empty.
  std::vector<Link> Finish();

 private:
  static constexpr std::size_t kKeptCapacity = 1 << 20;

  void Scan();
  void TakeStretch(std::size_t begin, std::size_t end);
  // The line of buffer position `at`; positions asked for only grow until
  // the buffer is compacted.
  std::size_t LineAt(std::size_t at);
  // The file offset of buffer position `at`.
  std::size_t OffsetOf(std::size_t at) const;
  // Drops the first `count` bytes of the buffer, keeping the line count.
  void Discard(std::size_t count);

  std::vector<Link> links_;
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> buffer_;  // not cleared: every byte used was written
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool in_stretch_ = false;        // an "<A" has been seen
  std::size_t stretch_begin_ = 0;  // where the current stretch starts
  std::size_t scan_from_ = 0;      // where to look for the next "<"
  // A "<" followed by nothing but line breaks up to scan_from_, the end of
  // what was read so far; npos when there is none.
  std::size_t pending_lt_ = std::string_view::npos;
  // Line counting: `line_` is the line at buffer position `line_at_`.
  // Line feeds dropped from after a kept lone "<" count as lying between
  // buffer positions 0 and 1.
  std::size_t line_ = 1;
  std::size_t line_at_ = 0;
  std::size_t hidden_line_feeds_ = 0;
  std::size_t bytes_before_ = 0;  // the file offset of buffer position 0
  std::size_t hidden_bytes_ = 0;  // dropped with those line feeds
};

// The link of one anchor stretch, if it holds a complete one. The stretch
// may hold line breaks; they count as if they were not there. `url_at`,
// when given, receives where in the stretch the URL starts.
bool TakeLink(std::string_view stretch, Link* link, std::size_t* url_at = nullptr);

// The URL list and the anchor list of a run: parallel, in file order.
struct LinkLists {
  std::deque<std::string> urls;
  std::deque<std::string> anchors;
  std::deque<std::size_t> lines;
  std::deque<std::size_t> offsets;
  // 0 for a link the network check probes; for a local link, checked
  // already, its outcome.
  std::deque<std::uint32_t> local;
  // True for what a page loads (an image, a script, ...) rather than links to.
  std::deque<bool> resources;
  // Links of the file that the run's rules left out.
  std::size_t skipped = 0;
};

// Drops the first link of the lists.
void PopFrontLink(LinkLists& lists);
// Moves the first link of `from` to the end of `to`.
void MoveFrontLink(LinkLists& from, LinkLists& to);

// Appends the links of the file at `path` to `lists` and sets `url_count`
// to the length of the URL list. A file that is not a regular file or
// cannot be read leaves the lists as they were and gives false.
bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count);

// The same for a file's text already in memory.
void ExtractUrlsFromText(std::string_view text, LinkLists& lists, std::size_t& url_count);

// What the run shows when ExtractUrls() fails.
std::string CannotOpenFileMessage(const std::string& path);

}  // namespace quimbel
