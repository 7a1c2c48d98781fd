#include "links/url_extractor.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace quimbel {
namespace {

// Line breaks vanish and "<" may start an anchor; every other byte is
// copied as it is.
constexpr std::array<bool, 256> MakeSpecialBytes() {
  std::array<bool, 256> special{};
  special['<'] = special['\r'] = special['\n'] = true;
  return special;
}
constexpr std::array<bool, 256> kSpecial = MakeSpecialBytes();

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Position of the first `scheme` + "://" in any letter case. Every such
// occurrence holds "://", so walking those in order finds the first.
std::size_t FindScheme(std::string_view text, std::string_view scheme) {
  for (std::size_t colon = text.find("://"); colon != std::string_view::npos;
       colon = text.find("://", colon + 1)) {
    if (colon < scheme.size()) continue;
    const std::size_t start = colon - scheme.size();
    bool same = true;
    for (std::size_t i = 0; i < scheme.size() && same; ++i) {
      same = Upper(text[start + i]) == scheme[i];
    }
    if (same) return start;
  }
  return std::string_view::npos;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimRight(text);
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

}  // namespace

bool TakeLink(std::string_view stretch, Link* link) {
  constexpr auto npos = std::string_view::npos;
  // The scheme must not stand at the stretch's very first position; an ftp
  // URL counts only when the stretch holds no http one.
  std::size_t scheme = FindScheme(stretch, "HTTP");
  if (scheme == npos || scheme == 0) scheme = FindScheme(stretch, "FTP");
  if (scheme == npos || scheme == 0) return false;

  const std::size_t quote = stretch.find('"', scheme);
  if (quote == npos) return false;
  const std::size_t close = stretch.find('>', quote + 1);
  if (close == npos) return false;
  std::size_t end = stretch.find("</A", close + 1);
  if (end == npos) end = stretch.find("</a", close + 1);
  if (end == npos) end = stretch.find('<', close + 1);
  if (end == npos) return false;

  link->url = std::string(TrimRight(stretch.substr(scheme, quote - scheme)));
  const std::string_view raw_name = stretch.substr(close + 1, end - close - 1);
  if (raw_name.empty()) {
    link->anchor = std::string(kPlaceholderAnchorName);
  } else {
    std::string name(raw_name);
    for (char& c : name) {
      if (c == '\t') c = ' ';
    }
    link->anchor = std::string(Trim(name));
  }
  return true;
}

void LinkScanner::Feed(std::string_view bytes) {
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p < end) {
    if (*p == '\r' || *p == '\n') {
      ++p;
      continue;
    }
    if (window_size_ == 1 && window_[0] != '<') {
      // A run of ordinary bytes slides through the window unchanged: copy
      // it in one go, keeping its last byte in the window.
      const char* run = p;
      while (run < end && !kSpecial[static_cast<unsigned char>(*run)]) ++run;
      if (run > p) {
        if (copying_) {
          stretch_.push_back(window_[0]);
          stretch_.append(p, static_cast<std::size_t>(run - p - 1));
        }
        window_[0] = run[-1];
        p = run;
        continue;
      }
    }
    AcceptByte(*p++);
  }
}

void LinkScanner::AcceptByte(char c) {
  if (window_size_ == 0) {
    window_[0] = c;
    window_size_ = 1;
    return;
  }
  if (window_[0] == '<' && (c == 'A' || c == 'a')) {
    // The "<A" itself is not copied; the window refills with the next two.
    EndStretch();
    window_size_ = 0;
    return;
  }
  if (copying_) stretch_.push_back(window_[0]);
  window_[0] = c;
}

void LinkScanner::EndStretch() {
  if (copying_) {
    Link link;
    if (TakeLink(stretch_, &link)) links_.push_back(std::move(link));
  }
  stretch_.clear();
  copying_ = true;
}

std::vector<Link> LinkScanner::Finish() {
  // The byte still in the window at the end is never copied.
  if (copying_) {
    Link link;
    if (TakeLink(stretch_, &link)) links_.push_back(std::move(link));
  }
  std::vector<Link> links = std::move(links_);
  *this = LinkScanner();
  return links;
}

bool ExtractUrls(const std::string& path, LinkLists& lists, std::size_t& url_count,
                 Prompter& prompter) {
  const auto fail = [&] {
    prompter.ShowMessage("Error: Cannot open file:\n\n" + path, MessageIcon::kExclamation);
    return false;
  };
  const int fd = path.find('\0') == std::string::npos ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC)
                                                       : -1;
  if (fd < 0) return fail();

  LinkScanner scanner;
  std::string buffer(1 << 16, '\0');
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      // A folder, or a read error part-way: the lists stay as they were.
      ::close(fd);
      return fail();
    }
    if (got == 0) break;
    scanner.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
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
