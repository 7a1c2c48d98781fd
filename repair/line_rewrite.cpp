#include "repair/line_rewrite.h"

#include <algorithm>

#include "links/markdown_links.h"
#include "links/url_resolver.h"
#include "platform/ascii.h"
#include "platform/spliced_line.h"

namespace quimbel {
namespace {

constexpr std::string_view kOpen = "<!--";
constexpr std::string_view kClose = "-->";

bool IsMoved(std::string_view reason) {
  for (const char* code : {"301", "302", "307", "308"}) {
    if (reason.find(code) != std::string_view::npos) return true;
  }
  return false;
}

// The replacement a type 1 repair writes for a request.
std::string ReplacementOf(const RepairRequest& request, const RepairOptions& options,
                          std::string_view file_name) {
  // A server's Location text goes into the page only when it is a plain
  // URL: anything else could plant markup in the author's page.
  const bool alternate = options.useAlternateUrl && IsMoved(request.reason) &&
                         IsSafeReplacementUrl(request.alternate_url);
  return alternate ? request.alternate_url : std::string(file_name);
}

}  // namespace

bool IsSafeReplacementUrl(std::string_view url) {
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    // Blanks, control bytes and the characters that end an attribute or
    // start a tag; the single quote ends attributes too.
    if (byte <= 0x20 || byte == 0x7F || c == '<' || c == '>' || c == '"' || c == '\'') {
      return false;
    }
  }
  const bool scheme = StartsWithIgnoringCase(url, "http://") ||
                      StartsWithIgnoringCase(url, "https://") ||
                      StartsWithIgnoringCase(url, "ftp://");
  return scheme && NormalizeUrl(url).has_value();
}

std::optional<std::string> UnsafeAlternateReason(const RepairRequest& request,
                                                 const RepairOptions& options) {
  if (options.type != RepairType::kReplaceUrl || !options.useAlternateUrl ||
      !IsMoved(request.reason) || request.resource || request.alternate_url.empty() ||
      IsSafeReplacementUrl(request.alternate_url)) {
    return std::nullopt;
  }
  return "its Alternate URL is no http, https or ftp URL a repair may write";
}

bool IsHttpCodeReason(std::string_view reason) {
  return reason.rfind("HTTP Code ", 0) == 0;
}

std::optional<std::string> LeftAloneReason(const RepairRequest& request,
                                           const RepairOptions& options) {
  if (request.style) return "a repair does not rewrite style sheets";
  if (options.skipNonHttp && !IsHttpCodeReason(request.reason)) {
    return "the repair passes over errors that are not HTTP codes";
  }
  if (request.resource && options.type == RepairType::kReplaceUrl) {
    return "nothing stands in for what a page loads";
  }
  return std::nullopt;
}

std::optional<std::string> RewriteLine(std::string_view line, const RepairRequest& request,
                                       const RepairOptions& options, std::string_view file_name) {
  if (LeftAloneReason(request, options)) return std::string(line);
  switch (options.type) {
    case RepairType::kRemoveLine:
      return std::nullopt;
    case RepairType::kReplaceUrl: {
      std::string text;
      if (options.removeComments) {
        // Only comments that open and close on this line, in that order;
        // one forward pass, however many there are.
        SplicedLine spliced(line);
        for (;;) {
          const std::size_t open = spliced.Find(kOpen);
          const std::size_t close = spliced.Find(kClose);
          if (open == SplicedLine::npos || close == SplicedLine::npos || close < open) break;
          spliced.Cut(open, close + kClose.size());
        }
        text = spliced.Text();
      } else {
        text = line;
      }
      const std::size_t at = text.find(request.url);
      // The URL stood only inside a removed comment: nothing is left to
      // replace, and the comment-free line is the repair.
      if (at == std::string::npos) return text;
      std::string rewritten = text.substr(0, at);
      rewritten += ReplacementOf(request, options, file_name);
      rewritten += text.substr(at + request.url.size());
      if (options.preserveAsComment) {
        rewritten += kRepairMarker;
        rewritten += request.url;
        rewritten += kClose;
      }
      return rewritten;
    }
    case RepairType::kDisableLine:
    default:
      return std::string(kRepairMarker) + std::string(line) + std::string(kClose);
  }
}

namespace {

std::size_t CountLinks(std::string_view body, std::string_view url) {
  const std::vector<MarkdownLinkSpan> spans = MarkdownLineSpans(body);
  return static_cast<std::size_t>(std::count_if(
      spans.begin(), spans.end(), [&](const MarkdownLinkSpan& span) { return span.url == url; }));
}

bool HoldsHtmlLink(std::string_view line, std::string_view url) {
  bool held = false;
  ScanPage(line, PageScanMode::kLinksOnly, {},
           [&](PageLink&& link) { held = held || LinkUrlOf(link.raw) == url; });
  return held;
}

}  // namespace

bool MarkdownLineHoldsLink(std::string_view line, std::string_view url) {
  const std::string_view body = line.substr(std::min(line.find_first_not_of(" \t"), line.size()));
  return CountLinks(body, url) > 0 || HoldsHtmlLink(line, url);
}

bool LineMayHoldLink(std::string_view line, std::string_view url, bool markdown) {
  if (line.find(url) != std::string_view::npos) return true;
  return markdown && url.starts_with("http://www.") &&
         line.find(url.substr(std::string_view("http://").size())) != std::string_view::npos;
}

MarkdownLineRepair RewriteMarkdownLine(std::string_view line, const RepairRequest& request,
                                       const RepairOptions& options, std::string_view file_name,
                                       std::string_view previous) {
  if (LeftAloneReason(request, options)) return {std::string(line), {}};
  if (OpensDefinition(previous)) return {std::string(line), "its Markdown link is not on one line"};
  // Indented, a line read alone would be code: it is read from its text on.
  const std::size_t indent = std::min(line.find_first_not_of(" \t"), line.size());
  const std::string_view body = line.substr(indent);
  const std::vector<MarkdownLinkSpan> spans = MarkdownLineSpans(body);
  const auto span = std::find_if(spans.begin(), spans.end(), [&](const MarkdownLinkSpan& one) {
    return one.url == request.url;
  });
  if (span == spans.end()) {
    // A link written as HTML is an HTML page's line; a Markdown link that
    // starts on another line is not rewritten piecemeal.
    if (HoldsHtmlLink(line, request.url))
      return {RewriteLine(line, request, options, file_name), {}};
    return {std::string(line), "its Markdown link is not on one line"};
  }
  const std::string before(body.substr(0, span->begin));
  const std::string whole(body.substr(span->begin, span->end - span->begin));
  const std::string after(body.substr(span->end));
  std::string rewritten;
  std::string why;
  switch (options.type) {
    case RepairType::kReplaceUrl: {
      const std::string url = ReplacementOf(request, options, file_name);
      rewritten = std::string(body.substr(0, span->dest_begin)) + url +
                  std::string(body.substr(span->dest_end));
      // A definition takes nothing after its URL but a title.
      if (options.preserveAsComment && span->form != MarkdownForm::kDefinition) {
        rewritten += std::string(kRepairMarker) + request.url + std::string(kClose);
      }
      if (CountLinks(rewritten, url) <= CountLinks(body, url)) {
        why = "Markdown would not read the new link";
      }
      break;
    }
    case RepairType::kRemoveLine:
      if (span->form == MarkdownForm::kDefinition) {
        why = "a reference definition: the links that use it would show their brackets";
      } else if (span->form != MarkdownForm::kInline) {
        why = "an autolink has no text but its URL";
      } else {
        rewritten = before +
                    std::string(body.substr(span->text_begin, span->text_end - span->text_begin)) +
                    after;
        if (CountLinks(rewritten, request.url) >= CountLinks(body, request.url)) {
          why = "Markdown would still read a link there";
        }
      }
      break;
    case RepairType::kDisableLine:
    default: {
      const std::string comment = std::string(kRepairMarker) + whole + std::string(kClose);
      rewritten = before + comment + after;
      if (!MarkdownKeepsComment(rewritten, comment)) {
        why = "Markdown would not keep a comment there";
      }
    }
  }
  if (!why.empty()) return {std::string(line), why};
  return {std::string(line.substr(0, indent)) + rewritten, {}};
}

std::string HandledRowNote(const ResultRow& row, const RepairOptions& options) {
  if (row.RowDone() == 0) {
    const RepairRequest request{std::string(row.url()),
                                std::string(row.text(ResultColumn::kReason)),
                                std::string(row.text(ResultColumn::kAlternateUrl)), row.resource};
    if (const auto unsafe = UnsafeAlternateReason(request, options)) {
      return "Left as it is by a repair: " + *unsafe;
    }
    return {};
  }
  if (!row.checked) return "Left as it is: not ticked for the repair";
  const std::string_view reason = row.text(ResultColumn::kReason);
  const RepairRequest request{
      std::string(row.url()), std::string(reason), {}, row.resource, row.kind == LinkKind::kCss};
  if (const auto left = LeftAloneReason(request, options)) return "Left as it is: " + *left;
  switch (options.type) {
    case RepairType::kRemoveLine:
      return "Repaired: its line was removed";
    case RepairType::kReplaceUrl: {
      const bool alternate = options.useAlternateUrl && IsMoved(reason) &&
                             IsSafeReplacementUrl(row.text(ResultColumn::kAlternateUrl));
      return alternate ? "Repaired: the link now leads to its Alternate URL"
                       : "Repaired: the link now leads to its own page";
    }
    case RepairType::kDisableLine:
    default:
      return "Repaired: its line was put inside a comment";
  }
}

}  // namespace quimbel
