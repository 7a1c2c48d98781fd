#include "links/url_extractor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quimbel {
namespace {

// Line breaks vanish and "<" may start an anchor; every other byte is
// copied as it is. Finding the next of these three is the hot loop of the
// whole extraction, so it looks at 16 bytes at a time where it can.
bool IsSpecial(char c) {
  return c == '<' || c == '\r' || c == '\n';
}

// Copies bytes from `*p` to `*out` up to the next special byte (or `end`)
// and advances both. May write up to 15 bytes beyond what it reports.
void CopyPlainRun(const char*& p, const char* end, char*& out) {
#if defined(__SSE2__)
  const __m128i less = _mm_set1_epi8('<');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
    const __m128i hits =
        _mm_or_si128(_mm_cmpeq_epi8(block, less),
                     _mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
    if (const int mask = _mm_movemask_epi8(hits)) {
      const int n = __builtin_ctz(static_cast<unsigned>(mask));
      p += n;
      out += n;
      return;
    }
    p += 16;
    out += 16;
  }
#endif
  while (p < end && !IsSpecial(*p))
    *out++ = *p++;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view upper) {
  if (at + upper.size() > text.size())
    return false;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    if (Upper(text[at + i]) != upper[i])
      return false;
  }
  return true;
}

// Where the link's URL starts: the first "HTTP://" in any letter case, or,
// only when there is none, the first "FTP://"; a scheme at position 0 does
// not count. Every scheme holds "://", so walking those in order finds the
// first of each in one pass.
std::size_t FindLinkScheme(std::string_view stretch) {
  constexpr auto npos = std::string_view::npos;
  std::size_t ftp = npos;
  for (std::size_t colon = stretch.find("://"); colon != npos;
       colon = stretch.find("://", colon + 1)) {
    if (colon >= 4 && StartsWithIgnoringCase(stretch, colon - 4, "HTTP")) {
      if (colon > 4)
        return colon - 4;
      continue;  // at position 0: as if there were no http URL
    }
    if (ftp == npos && colon >= 3 && StartsWithIgnoringCase(stretch, colon - 3, "FTP")) {
      ftp = colon - 3;
    }
  }
  return ftp == 0 ? npos : ftp;
}

// The end of the link name after `from`: the first "</A", else the first
// "</a", else the first "<". One walk over the "<" of the rest.
std::size_t FindEndMark(std::string_view stretch, std::size_t from) {
  constexpr auto npos = std::string_view::npos;
  std::size_t lower = npos;
  std::size_t any = npos;
  for (std::size_t lt = stretch.find('<', from); lt != npos; lt = stretch.find('<', lt + 1)) {
    if (any == npos)
      any = lt;
    if (lt + 2 < stretch.size() && stretch[lt + 1] == '/') {
      if (stretch[lt + 2] == 'A')
        return lt;
      if (stretch[lt + 2] == 'a' && lower == npos)
        lower = lt;
    }
  }
  return lower != npos ? lower : any;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimRight(text);
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  return text;
}

}  // namespace

bool TakeLink(std::string_view stretch, Link* link) {
  constexpr auto npos = std::string_view::npos;
  const std::size_t scheme = FindLinkScheme(stretch);
  if (scheme == npos)
    return false;
  const std::size_t quote = stretch.find('"', scheme);
  if (quote == npos)
    return false;
  const std::size_t close = stretch.find('>', quote + 1);
  if (close == npos)
    return false;
  const std::size_t end = FindEndMark(stretch, close + 1);
  if (end == npos)
    return false;

  link->url.assign(TrimRight(stretch.substr(scheme, quote - scheme)));
  const std::string_view raw_name = stretch.substr(close + 1, end - close - 1);
  if (raw_name.empty()) {
    link->anchor.assign(kPlaceholderAnchorName);
  } else {
    // Tabs are blanks, so trimming first and turning the inner tabs into
    // spaces after gives the same name.
    link->anchor.assign(Trim(raw_name));
    std::replace(link->anchor.begin(), link->anchor.end(), '\t', ' ');
  }
  return true;
}

void LinkScanner::Reserve(std::size_t more) {
  if (stretch_size_ + more <= stretch_capacity_)
    return;
  const std::size_t capacity = std::max(stretch_size_ + more, 2 * stretch_capacity_);
  auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
  if (stretch_size_ > 0)
    std::memcpy(bigger.get(), stretch_.get(), stretch_size_);
  stretch_ = std::move(bigger);
  stretch_capacity_ = capacity;
}

void LinkScanner::Feed(std::string_view bytes) {
  // The stretch buffer doubles as the window: its last byte is the window's
  // first while `has_pending_`. Before the first "<A" nothing is kept but
  // that byte.
  if (!copying_) {
    if (has_pending_ && stretch_size_ > 0) {
      stretch_[0] = stretch_[stretch_size_ - 1];
      stretch_size_ = 1;
    } else {
      stretch_size_ = 0;
    }
  }
  // Every input byte yields at most one byte, and a block copy may spill 15.
  Reserve(bytes.size() + 16);
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  char* out = stretch_.get() + stretch_size_;
  bool has_pending = has_pending_;
  bool lt_pending = lt_pending_;
  for (;;) {
    if (lt_pending) {
      // Line breaks vanish, so "<", a line break and "A" still meet.
      while (p < end && (*p == '\r' || *p == '\n'))
        ++p;
      if (p == end)
        break;
      lt_pending = false;
      if (*p == 'A' || *p == 'a') {
        // Neither the "<" nor the "A" belongs to any stretch.
        ++p;
        stretch_size_ = static_cast<std::size_t>(out - stretch_.get()) - 1;
        EndStretch();
        out = stretch_.get();
        has_pending = false;
        continue;
      }
    }
    char* const run_start = out;
    CopyPlainRun(p, end, out);
    if (out != run_start)
      has_pending = true;
    if (p == end)
      break;
    if (*p++ == '<') {
      *out++ = '<';
      has_pending = true;
      lt_pending = true;
    }
  }
  stretch_size_ = static_cast<std::size_t>(out - stretch_.get());
  has_pending_ = has_pending;
  lt_pending_ = lt_pending;
}

void LinkScanner::EndStretch() {
  if (copying_) {
    Link link;
    if (TakeLink(std::string_view(stretch_.get(), stretch_size_), &link)) {
      links_.push_back(std::move(link));
    }
  }
  stretch_size_ = 0;
  copying_ = true;
}

std::vector<Link> LinkScanner::Finish() {
  // The byte still in the window at the end is never copied.
  if (copying_) {
    if (has_pending_)
      --stretch_size_;
    EndStretch();
  }
  std::vector<Link> links = std::move(links_);
  links_.clear();
  stretch_size_ = 0;
  copying_ = false;
  has_pending_ = false;
  lt_pending_ = false;
  return links;
}

bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count,
                 Prompter& prompter) {
  const auto fail = [&] {
    prompter.ShowMessage("Error: Cannot open file:\n\n" + path, MessageIcon::kExclamation);
    return false;
  };
  const int fd =
      path.find('\0') == std::string::npos ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0)
    return fail();

  LinkScanner scanner;
  constexpr std::size_t kBufferSize = 1 << 16;
  const std::unique_ptr<char[]> buffer(new char[kBufferSize]);  // no need to clear it
  for (;;) {
    const ssize_t got = ::read(fd, buffer.get(), kBufferSize);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      // A folder, or a read error part-way: the lists stay as they were.
      ::close(fd);
      return fail();
    }
    if (got == 0)
      break;
    scanner.Feed(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
  }
  ::close(fd);

  for (Link& link : scanner.Finish()) {
    lists.urls.push_back(std::move(link.url));
    lists.anchors.push_back(std::move(link.anchor));
  }
  url_count = lists.urls.size();
  return true;
}

}  // namespace quimbel
