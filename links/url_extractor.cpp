#include "links/url_extractor.h"

#include "platform/ascii.h"
#include "platform/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quimbel {
namespace {

constexpr auto npos = std::string_view::npos;

bool IsBreak(char c) {
  return c == '\r' || c == '\n';
}

// The first `byte` from `from` on, or npos. Inlined rather than memchr:
// "<" comes every few dozen bytes in a page, and a library call per hit
// costs more than the search itself.
std::size_t FindByte(std::string_view text, std::size_t from, char byte) {
  const char* p = text.data() + std::min(from, text.size());
  const char* const end = text.data() + text.size();
#if defined(__SSE2__)
  const __m128i needle = _mm_set1_epi8(byte);
  for (; end - p >= 16; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, needle))) {
      return static_cast<std::size_t>(p - text.data()) +
             static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == byte) return static_cast<std::size_t>(p - text.data());
  }
  return npos;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The first index from `at` on that holds no line break.
std::size_t SkipBreaks(std::string_view text, std::size_t at) {
  while (at < text.size() && IsBreak(text[at]))
    ++at;
  return at;
}

// The last index before `at` that holds no line break, or npos.
std::size_t PreviousNonBreak(std::string_view text, std::size_t at) {
  while (at > 0) {
    if (!IsBreak(text[--at])) return at;
  }
  return npos;
}

// Whether the bytes before `colon` spell `upper` (in any case) and "//"
// follows it, line breaks skipped; the scheme's start, or npos.
std::size_t SchemeBefore(std::string_view text, std::size_t colon, std::string_view upper) {
  std::size_t at = colon;
  for (auto letter = upper.rbegin(); letter != upper.rend(); ++letter) {
    at = PreviousNonBreak(text, at);
    if (at == npos || Upper(text[at]) != *letter) return npos;
  }
  return at;
}

bool SlashesAfter(std::string_view text, std::size_t colon) {
  std::size_t at = SkipBreaks(text, colon + 1);
  if (at >= text.size() || text[at] != '/') return false;
  at = SkipBreaks(text, at + 1);
  return at < text.size() && text[at] == '/';
}

// Where the link's URL starts: the first "HTTP://" or "HTTPS://" in any
// letter case, or, only when there is neither, the first "FTP://". Every
// scheme holds ":", so walking the colons in order finds the first of each
// in one pass.
std::size_t FindLinkScheme(std::string_view stretch) {
  std::size_t ftp = npos;
  for (std::size_t colon = stretch.find(':'); colon != npos; colon = stretch.find(':', colon + 1)) {
    if (!SlashesAfter(stretch, colon)) continue;
    if (const std::size_t http = SchemeBefore(stretch, colon, "HTTP"); http != npos) return http;
    if (const std::size_t https = SchemeBefore(stretch, colon, "HTTPS"); https != npos) {
      return https;
    }
    if (ftp == npos) ftp = SchemeBefore(stretch, colon, "FTP");
  }
  return ftp;
}

// The end of the link name from `from` on: the first "</A", else the first
// "</a", else the first "<". One walk over the "<" of the rest.
std::size_t FindEndMark(std::string_view stretch, std::size_t from) {
  std::size_t lower = npos;
  std::size_t any = npos;
  for (std::size_t lt = FindByte(stretch, from, '<'); lt != npos;
       lt = FindByte(stretch, lt + 1, '<')) {
    if (any == npos) any = lt;
    const std::size_t slash = SkipBreaks(stretch, lt + 1);
    if (slash >= stretch.size() || stretch[slash] != '/') continue;
    const std::size_t letter = SkipBreaks(stretch, slash + 1);
    if (letter >= stretch.size()) continue;
    if (stretch[letter] == 'A') return lt;
    if (stretch[letter] == 'a' && lower == npos) lower = lt;
  }
  return lower != npos ? lower : any;
}

// The text without its line breaks.
std::string WithoutBreaks(std::string_view text) {
  // Most URLs and link names sit on one line: copy those whole.
  if (FindByte(text, 0, '\n') == npos && FindByte(text, 0, '\r') == npos) {
    return std::string(text);
  }
  std::string result(text.size(), '\0');
  char* out = result.data();
  for (const char c : text) {
    *out = c;
    out += !IsBreak(c);  // branch-free: breaks are written over
  }
  result.resize(static_cast<std::size_t>(out - result.data()));
  return result;
}

void TrimRight(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1]))
    --end;
  text.resize(end);
}

void Trim(std::string& text) {
  TrimRight(text);
  std::size_t begin = 0;
  while (begin < text.size() && IsBlank(text[begin]))
    ++begin;
  text.erase(0, begin);
}

}  // namespace

bool TakeLink(std::string_view stretch, Link* link, std::size_t* url_at) {
  const std::size_t scheme = FindLinkScheme(stretch);
  // A scheme at the stretch's very first position does not count.
  if (scheme == npos || PreviousNonBreak(stretch, scheme) == npos) return false;
  const std::size_t quote = stretch.find('"', scheme);
  if (quote == npos) return false;
  const std::size_t close = stretch.find('>', quote + 1);
  if (close == npos) return false;
  const std::size_t end = FindEndMark(stretch, close + 1);
  if (end == npos) return false;

  if (url_at != nullptr) *url_at = scheme;
  link->url = WithoutBreaks(stretch.substr(scheme, quote - scheme));
  TrimRight(link->url);
  link->anchor = WithoutBreaks(stretch.substr(close + 1, end - close - 1));
  if (link->anchor.empty()) {
    link->anchor = kPlaceholderAnchorName;
  } else {
    std::replace(link->anchor.begin(), link->anchor.end(), '\t', ' ');
    Trim(link->anchor);
  }
  return true;
}

char* LinkScanner::WriteArea(std::size_t size) {
  if (size_ + size > capacity_) {
    // realloc moves a large block by remapping its pages, not by copying
    // it, so a giant stretch never needs room for two of itself.
    const std::size_t capacity = std::max(size_ + size, capacity_ + capacity_ / 2);
    void* bigger = std::realloc(buffer_.get(), capacity);
    if (bigger == nullptr) throw std::bad_alloc();
    buffer_.release();
    buffer_.reset(static_cast<char*>(bigger));
    capacity_ = capacity;
  }
  return buffer_.get() + size_;
}

void LinkScanner::Commit(std::size_t written) {
  size_ += written;
  Scan();
}

void LinkScanner::Feed(std::string_view bytes) {
  if (bytes.empty()) return;
  std::memcpy(WriteArea(bytes.size()), bytes.data(), bytes.size());
  Commit(bytes.size());
}

void LinkScanner::Scan() {
  const std::string_view text(buffer_.get(), size_);
  for (;;) {
    std::size_t lt = pending_lt_;
    // Line breaks vanish before anything is matched, so "<", a line break
    // and "A" still make an "<A". A "<" whose line breaks ran to the end
    // of the last chunk resumes where they stopped, so no break is looked
    // at twice.
    std::size_t next = npos;
    if (lt != npos) {
      pending_lt_ = npos;
      next = SkipBreaks(text, scan_from_);
    } else {
      lt = FindByte(text, scan_from_, '<');
      if (lt == npos) {
        scan_from_ = size_;
        break;
      }
      next = SkipBreaks(text, lt + 1);
    }
    if (next == size_) {
      pending_lt_ = lt;  // the next chunk decides
      scan_from_ = size_;
      break;
    }
    if (text[next] == 'A' || text[next] == 'a') {
      // Neither the "<" nor the "A" belongs to a stretch.
      if (in_stretch_) TakeStretch(stretch_begin_, lt);
      in_stretch_ = true;
      stretch_begin_ = next + 1;
    }
    scan_from_ = next;
  }
  // Keep only what is still needed: the open stretch, or before the first
  // "<A" a "<" whose partner has not been read yet. Outside a stretch the
  // line breaks after that "<" matter no more, so only the "<" stays.
  if (!in_stretch_ && pending_lt_ != npos) {
    // The line feeds among the breaks after the "<" still count.
    const std::string_view after(buffer_.get() + pending_lt_ + 1, size_ - pending_lt_ - 1);
    const auto feeds = static_cast<std::size_t>(std::count(after.begin(), after.end(), '\n'));
    Discard(pending_lt_);
    hidden_line_feeds_ += feeds;
    hidden_bytes_ += size_ - pending_lt_ - 1;
    buffer_.get()[0] = '<';
    size_ = scan_from_ = 1;
    pending_lt_ = 0;
    return;
  }
  const std::size_t keep = in_stretch_ ? stretch_begin_ : scan_from_;
  if (keep > 0) {
    Discard(keep);
    std::memmove(buffer_.get(), buffer_.get() + keep, size_ - keep);
    size_ -= keep;
    scan_from_ -= keep;
    if (pending_lt_ != npos) pending_lt_ -= keep;
    if (in_stretch_) stretch_begin_ = 0;
  }
}

std::size_t LinkScanner::LineAt(std::size_t at) {
  if (at <= line_at_) return line_;
  if (line_at_ == 0) {
    line_ += hidden_line_feeds_;
    hidden_line_feeds_ = 0;
  }
  const char* text = buffer_.get();
  line_ += CountLineFeeds(text + line_at_, text + at);
  line_at_ = at;
  return line_;
}

void LinkScanner::Discard(std::size_t count) {
  LineAt(count);
  line_at_ = 0;
  if (count == 0) return;
  bytes_before_ += count + hidden_bytes_;
  hidden_bytes_ = 0;
}

std::size_t LinkScanner::OffsetOf(std::size_t at) const {
  return bytes_before_ + at + (at >= 1 ? hidden_bytes_ : 0);
}

void LinkScanner::TakeStretch(std::size_t begin, std::size_t end) {
  Link link;
  std::size_t url_at = 0;
  if (TakeLink(std::string_view(buffer_.get() + begin, end - begin), &link, &url_at)) {
    link.line = LineAt(begin + url_at);
    link.offset = OffsetOf(begin + url_at);
    links_.push_back(std::move(link));
  }
}

std::vector<Link> LinkScanner::Finish() {
  if (in_stretch_) {
    // The very last byte of the input (line breaks aside) never joins a
    // stretch: it was still in the window when the input ran out.
    const std::size_t last = PreviousNonBreak(std::string_view(buffer_.get(), size_), size_);
    if (last != npos && last >= stretch_begin_) TakeStretch(stretch_begin_, last);
  }
  std::vector<Link> links = std::move(links_);
  links_.clear();
  // A buffer grown for one giant stretch is not worth keeping.
  if (capacity_ > kKeptCapacity) {
    buffer_.reset();
    capacity_ = 0;
  }
  size_ = 0;
  in_stretch_ = false;
  stretch_begin_ = 0;
  scan_from_ = 0;
  pending_lt_ = npos;
  line_ = 1;
  line_at_ = 0;
  hidden_line_feeds_ = 0;
  bytes_before_ = 0;
  hidden_bytes_ = 0;
  return links;
}

std::string CannotOpenFileMessage(const std::string& path) {
  return "Error: Cannot open file:\n\n" + path;
}

namespace {

void AppendLinks(std::vector<Link> links, LinkLists& lists) {
  for (Link& link : links) {
    lists.urls.push_back(std::move(link.url));
    lists.anchors.push_back(std::move(link.anchor));
    lists.lines.push_back(link.line);
    lists.offsets.push_back(link.offset);
    lists.local.push_back(0);
    lists.resources.push_back(false);
  }
}

}  // namespace

bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count) {
  // Only a regular file: a fifo or device would block or never end.
  FileDescriptor file = OpenForReading(path);
  if (!file.valid()) return false;
  const int fd = file.get();

  // One scanner per thread, kept between files: a fresh 64 KiB buffer per
  // file would cost page faults on every one of thousands of small files.
  thread_local LinkScanner scanner;
  constexpr std::size_t kChunk = 1 << 16;
  for (;;) {
    const ssize_t got = ::read(fd, scanner.WriteArea(kChunk), kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      // A read error part-way: the lists stay as they were.
      scanner.Finish();
      return false;
    }
    if (got == 0) break;
    scanner.Commit(static_cast<std::size_t>(got));
  }
  AppendLinks(scanner.Finish(), lists);
  url_count = lists.urls.size();
  return true;
}

void PopFrontLink(LinkLists& lists) {
  if (!lists.urls.empty()) lists.urls.pop_front();
  if (!lists.anchors.empty()) lists.anchors.pop_front();
  if (!lists.lines.empty()) lists.lines.pop_front();
  if (!lists.offsets.empty()) lists.offsets.pop_front();
  if (!lists.local.empty()) lists.local.pop_front();
  if (!lists.resources.empty()) lists.resources.pop_front();
}

void MoveFrontLink(LinkLists& from, LinkLists& to) {
  to.urls.push_back(std::move(from.urls.front()));
  to.anchors.push_back(std::move(from.anchors.front()));
  to.lines.push_back(from.lines.front());
  to.offsets.push_back(from.offsets.front());
  to.local.push_back(from.local.front());
  to.resources.push_back(from.resources.front());
  PopFrontLink(from);
}

void ExtractUrlsFromText(std::string_view text, LinkLists& lists, std::size_t& url_count) {
  thread_local LinkScanner scanner;
  // In pieces, so the scanner holds no more than it does for a file.
  constexpr std::size_t kChunk = 1 << 16;
  for (std::size_t at = 0; at < text.size(); at += kChunk)
    scanner.Feed(text.substr(at, kChunk));
  AppendLinks(scanner.Finish(), lists);
  url_count = lists.urls.size();
}

}  // namespace quimbel
