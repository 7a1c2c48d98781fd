#include "links/markdown_links.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>
#include <re2/re2.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "links/markdown_text.h"
#include "platform/ascii.h"

namespace quimbel {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// cmark-gfm keeps its extensions in a plain global list: they are put there
// once, before any thread starts, and only read after.
const struct Extensions {
  Extensions() { cmark_gfm_core_extensions_ensure_registered(); }
} kExtensions;

using markdown::Escaped;
using markdown::FindAutolink;
using markdown::FindDefinition;
using markdown::FindInline;
using markdown::IsAutolink;
using markdown::IsBlank;
using markdown::Lines;
using markdown::NormalLabel;
using markdown::Place;
using markdown::WholeAt;
struct NodeFree {
  void operator()(cmark_node* node) const { cmark_node_free(node); }
};
using Document = std::unique_ptr<cmark_node, NodeFree>;

// The page as GitHub reads it: CommonMark with tables, strikethrough, task
// lists and the bare autolinks.
Document Parse(std::string_view text) {
  cmark_parser* parser = cmark_parser_new(CMARK_OPT_DEFAULT);
  for (const char* name : {"autolink", "table", "strikethrough", "tasklist"}) {
    if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name)) {
      cmark_parser_attach_syntax_extension(parser, extension);
    }
  }
  cmark_parser_feed(parser, text.data(), text.size());
  Document document(cmark_parser_finish(parser));
  cmark_parser_free(parser);
  return document;
}

std::string_view Literal(cmark_node* node) {
  const char* literal = cmark_node_get_literal(node);
  return literal == nullptr ? std::string_view() : std::string_view(literal);
}

// The text a node shows: its text and code, a blank for a line break, no
// HTML.
void AppendShownText(cmark_node* node, std::string& out) {
  for (cmark_node* child = cmark_node_first_child(node); child != nullptr;
       child = cmark_node_next(child)) {
    switch (cmark_node_get_type(child)) {
      case CMARK_NODE_TEXT:
      case CMARK_NODE_CODE:
        out += Literal(child);
        break;
      case CMARK_NODE_SOFTBREAK:
      case CMARK_NODE_LINEBREAK:
        out += ' ';
        break;
      case CMARK_NODE_HTML_INLINE:
        break;
      default:
        AppendShownText(child, out);
    }
  }
}

std::string ShownText(cmark_node* node) {
  std::string text;
  AppendShownText(node, text);
  return text;
}

bool IsInlineHolder(cmark_node* node) {
  const cmark_node_type type = cmark_node_get_type(node);
  if (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) return true;
  const std::string_view name = cmark_node_get_type_string(node);
  return name == "table_cell" || name == "table_row" || name == "table_header";
}

// One reference of the page, found where it stands.
struct Found {
  PageLink link;
  std::optional<MarkdownLinkSpan> span;  // for Markdown's own links
  bool definition = false;               // its URL is a reference definition's
};

// Reads a page: each link located after the one before it, in order.
class Reader {
 public:
  Reader(std::string_view text, PageScanMode mode, const LinkFilter& wanted)
      : text_(text), lines_(text), mode_(mode), wanted_(wanted) {}

  void Run(const std::function<void(Found&&)>& sink, PageScan& scan) {
    const Document document = Parse(text_);
    std::vector<std::optional<Found>> found;
    std::vector<std::size_t> open;  // links entered, not yet left
    std::unordered_map<std::string, int> slugs;
    cmark_iter* iter = cmark_iter_new(document.get());
    for (cmark_event_type event; (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
      cmark_node* node = cmark_iter_get_node(iter);
      const cmark_node_type type = cmark_node_get_type(node);
      if (type == CMARK_NODE_HEADING && event == CMARK_EVENT_ENTER &&
          mode_ != PageScanMode::kLinksOnly) {
        scan.fragments.insert(UniqueSlug(HeadingSlug(ShownText(node)), slugs));
      }
      if (type == CMARK_NODE_LINK || type == CMARK_NODE_IMAGE) {
        // Located when left: an image inside a link writes its URL first.
        if (event == CMARK_EVENT_ENTER) {
          open.push_back(found.size());
          found.emplace_back();
        } else {
          found[open.back()] = Locate(node, type == CMARK_NODE_IMAGE);
          open.pop_back();
        }
      } else if (type == CMARK_NODE_HTML_BLOCK || type == CMARK_NODE_HTML_INLINE) {
        ReadHtml(node, type == CMARK_NODE_HTML_BLOCK, found, scan);
      }
    }
    cmark_iter_free(iter);
    // Links in the order their URLs stand, as an HTML page's: a repair
    // reads the page forward, line by line.
    std::stable_sort(found.begin(), found.end(),
                     [](const std::optional<Found>& a, const std::optional<Found>& b) {
                       return (a ? a->link.offset : npos) < (b ? b->link.offset : npos);
                     });
    // A definition's URL is written once: one link, however many use it.
    std::unordered_set<std::size_t> definitions;
    for (std::optional<Found>& one : found) {
      if (!one || (one->definition && !definitions.insert(one->link.offset).second)) continue;
      const std::string_view url = one->link.url();
      if (mode_ == PageScanMode::kFragmentsOnly || IsSkippedReference(url) ||
          (wanted_ && !wanted_(url))) {
        continue;
      }
      sink(std::move(*one));
    }
  }

 private:
  static std::string UniqueSlug(std::string slug, std::unordered_map<std::string, int>& seen) {
    const std::string first = slug;
    while (seen.contains(slug))
      slug = first + "-" + std::to_string(++seen[first]);
    seen.emplace(slug, 0);
    return slug;
  }

  // The lines of the block that holds `node`'s text.
  std::pair<std::size_t, std::size_t> BlockOf(cmark_node* node) const {
    cmark_node* block = cmark_node_parent(node);
    while (block != nullptr && !IsInlineHolder(block))
      block = cmark_node_parent(block);
    if (block == nullptr || cmark_node_get_start_line(block) < 1) return {0, text_.size()};
    return {lines_.Start(cmark_node_get_start_line(block)),
            lines_.End(cmark_node_get_end_line(block))};
  }

  // A line for a link whose URL is not found as written (an escape in it,
  // say): where the parser puts it, or its block.
  std::size_t FallbackLine(cmark_node* node, std::size_t block_begin) const {
    const int line = cmark_node_get_start_line(node);
    return line > 0 ? static_cast<std::size_t>(line) : lines_.LineOf(block_begin);
  }

  Found Locate(cmark_node* node, bool image) {
    const std::string url = cmark_node_get_url(node) != nullptr ? cmark_node_get_url(node) : "";
    const std::string text = ShownText(node);
    const auto [block_begin, block_end] = BlockOf(node);
    const std::size_t from = std::max(cursor_, block_begin);
    MarkdownLinkSpan span{url, MarkdownForm::kInline, image};
    std::string_view written = url;
    // A reference link's URL is its definition's: no inline destination
    // later in the block is taken for it.
    const std::optional<std::string> label = LabelOf(node);
    Place place = label ? Place{} : FindInline(text_, url, from, block_end);
    if (place.at == npos && !label && !text.empty() && IsAutolink(url, text)) {
      written = text;
      span.form = MarkdownForm::kAutolink;
      place = FindAutolink(text_, text, from, block_end, false);
      if (place.at == npos) {
        span.form = MarkdownForm::kBare;
        place = FindAutolink(text_, text, from, block_end, true);
      }
    }
    bool exact = true;
    if (place.at == npos) {
      written = url;
      span.form = MarkdownForm::kDefinition;
      place = DefinitionOf(label, url, exact);
    }
    Found found;
    found.link.raw = url;
    found.link.text = text.empty() ? std::string(kPlaceholderLinkName) : text;
    found.link.tag = image ? "img" : "a";
    found.link.resource = image;
    found.link.kind = image ? LinkKind::kResource : LinkKind::kAnchor;
    if (place.at == npos) {
      found.link.line = FallbackLine(node, block_begin);
      found.link.offset = lines_.Start(static_cast<int>(found.link.line));
      return found;
    }
    found.link.line = lines_.LineOf(place.at);
    found.link.offset = place.at;
    found.definition = span.form == MarkdownForm::kDefinition;
    if (!exact) return found;  // its URL is written otherwise: no span to rewrite
    span.dest_begin = place.at;
    span.dest_end = place.at + written.size();
    if (span.form != MarkdownForm::kDefinition) cursor_ = span.dest_end;
    if (Bound(span, place.marker, block_begin)) found.span = std::move(span);
    return found;
  }

  // The label a reference link names: "[text][label]", "[label][]" or
  // "[label]", read where the parser puts the link; nothing for an inline
  // link.
  std::optional<std::string> LabelOf(cmark_node* node) const {
    const int line = cmark_node_get_start_line(node);
    const int column = cmark_node_get_start_column(node);
    if (line < 1 || column < 1) return std::nullopt;
    std::size_t at = lines_.Start(line) + static_cast<std::size_t>(column - 1);
    if (at < text_.size() && text_[at] == '!') ++at;
    if (at >= text_.size() || text_[at] != '[') return std::nullopt;
    int depth = 0;
    std::size_t close = npos;
    for (std::size_t i = at + 1; i < text_.size() && close == npos; ++i) {
      if (Escaped(text_, i)) continue;
      if (text_[i] == '[') ++depth;
      if (text_[i] == ']' && depth-- == 0) close = i;
    }
    if (close == npos) return std::nullopt;
    const std::string_view shown = text_.substr(at + 1, close - at - 1);
    if (close + 1 < text_.size() && text_[close + 1] == '(') return std::nullopt;
    if (close + 1 < text_.size() && text_[close + 1] == '[') {
      const std::size_t end = text_.find(']', close + 2);
      if (end == npos) return std::nullopt;
      const std::string_view label = text_.substr(close + 2, end - close - 2);
      return std::string(label.empty() ? shown : label);
    }
    return std::string(shown);
  }

  // Where a reference link's URL is written: the definition of its label
  // (the first, as the parser takes), else the first definition of its URL.
  // `exact` is false when the label's definition writes the URL otherwise
  // (escaped, say): its place is known, not its bytes.
  Place DefinitionOf(const std::optional<std::string>& label, const std::string& url, bool& exact) {
    if (labels_.empty()) {
      for (std::size_t line = 1; lines_.Start(static_cast<int>(line)) < text_.size(); ++line) {
        std::size_t at = lines_.Start(static_cast<int>(line));
        for (int blanks = 0; blanks < 3 && at < text_.size() && text_[at] == ' '; ++blanks)
          ++at;
        if (at >= text_.size() || text_[at] != '[') continue;
        const std::size_t marker = text_.find("]:", at);
        if (marker == npos || lines_.LineOf(marker) != line) continue;
        labels_.emplace(NormalLabel(text_.substr(at + 1, marker - at - 1)), marker);
      }
      labels_.emplace("", npos);  // read once
    }
    if (label) {
      if (const auto known = labels_.find(NormalLabel(*label));
          known != labels_.end() && known->second != npos) {
        std::size_t p = known->second + 2;
        int line_ends = 0;
        while (p < text_.size() && IsBlank(text_[p]) && line_ends <= 1)
          line_ends += text_[p++] == '\n';
        if (p < text_.size() && text_[p] == '<') ++p;
        exact = WholeAt(text_, p, url);
        return {p, known->second};
      }
    }
    // A page may use one definition a thousand times.
    const auto known = definitions_.find(url);
    return known != definitions_.end()
               ? known->second
               : definitions_.emplace(url, FindDefinition(text_, url)).first->second;
  }

  // The whole link around its URL; false when its ends are not where
  // Markdown's syntax puts them.
  bool Bound(MarkdownLinkSpan& span, std::size_t marker, std::size_t block_begin) const {
    switch (span.form) {
      case MarkdownForm::kBare:
        span.begin = span.dest_begin;
        span.end = span.dest_end;
        return true;
      case MarkdownForm::kAutolink:
        span.begin = span.dest_begin - 1;
        span.end = span.dest_end + 1;
        return true;
      case MarkdownForm::kDefinition: {
        const std::size_t label = text_.rfind('[', marker);
        if (label == npos) return false;
        span.begin = lines_.Start(static_cast<int>(lines_.LineOf(label)));
        span.end = lines_.End(static_cast<int>(lines_.LineOf(span.dest_begin)));
        while (span.end > span.dest_end &&
               (text_[span.end - 1] == '\n' || text_[span.end - 1] == '\r'))
          --span.end;
        return true;
      }
      case MarkdownForm::kInline:
        break;
    }
    // Back from "](" to the "[" that opens the text.
    int depth = 0;
    std::size_t open = npos;
    for (std::size_t i = marker; i-- > block_begin;) {
      if (Escaped(text_, i)) continue;
      if (text_[i] == ']') ++depth;
      if (text_[i] == '[' && depth-- == 0) {
        open = i;
        break;
      }
    }
    if (open == npos) return false;
    span.text_begin = open + 1;
    span.text_end = marker;
    span.begin = span.image && open > 0 && text_[open - 1] == '!' ? open - 1 : open;
    // On past the URL and a title to the ")".
    std::size_t at = span.dest_end;
    if (at < text_.size() && text_[at] == '>') ++at;
    while (at < text_.size() && IsBlank(text_[at]))
      ++at;
    if (at < text_.size() && (text_[at] == '"' || text_[at] == '\'' || text_[at] == '(')) {
      const char close = text_[at] == '(' ? ')' : text_[at];
      for (++at; at < text_.size() && (text_[at] != close || Escaped(text_, at));)
        ++at;
      ++at;
      while (at < text_.size() && IsBlank(text_[at]))
        ++at;
    }
    if (at >= text_.size() || text_[at] != ')') return false;
    span.end = at + 1;
    return true;
  }

  void ReadHtml(cmark_node* node, bool block, std::vector<std::optional<Found>>& found,
                PageScan& scan) {
    const std::string_view literal = Literal(node);
    std::size_t base = npos;
    if (block) {
      base = lines_.Start(cmark_node_get_start_line(node));
    } else {
      const auto [block_begin, block_end] = BlockOf(node);
      const std::size_t at = text_.find(literal, std::max(cursor_, block_begin));
      if (at != npos && at < block_end) {
        base = at;
        cursor_ = at + literal.size();
      }
    }
    const std::size_t line = base != npos ? lines_.LineOf(base) : FallbackLine(node, 0);
    // An inline <a>'s text is what follows it, up to its </a>.
    std::string following;
    if (!block) {
      for (cmark_node* next = cmark_node_next(node); next != nullptr;
           next = cmark_node_next(next)) {
        if (cmark_node_get_type(next) == CMARK_NODE_HTML_INLINE &&
            StartsWithIgnoringCase(Literal(next), "</a")) {
          break;
        }
        following += cmark_node_get_type(next) == CMARK_NODE_TEXT ? Literal(next) : ShownText(next);
      }
    }
    PageScan html = ScanPage(literal, mode_, {}, [&](PageLink&& link) {
      if (!block && link.tag == "a" && link.text == kPlaceholderLinkName && !following.empty()) {
        link.text = following;
      }
      // The HTML's own lines, from the line it starts on.
      const std::size_t below = static_cast<std::size_t>(std::count(
          literal.begin(),
          literal.begin() + static_cast<std::ptrdiff_t>(std::min(link.offset, literal.size())),
          '\n'));
      link.line = line + below;
      link.offset += base != npos ? base : 0;
      found.emplace_back(Found{std::move(link), std::nullopt});
    });
    scan.fragments.merge(html.fragments);
  }

  std::string_view text_;
  Lines lines_;
  PageScanMode mode_;
  const LinkFilter& wanted_;
  std::size_t cursor_ = 0;  // past the last URL found
  std::unordered_map<std::string, Place> definitions_;
  std::unordered_map<std::string, std::size_t> labels_;  // the first "]:" of each label
};

}  // namespace

PageScan ScanMarkdown(std::string_view text, PageScanMode mode, const LinkFilter& wanted,
                      const LinkSink& sink) {
  PageScan scan;
  Reader(text, mode, wanted)
      .Run(
          [&](Found&& found) {
            if (sink) {
              sink(std::move(found.link));
            } else {
              scan.links.push_back(std::move(found.link));
            }
          },
          scan);
  return scan;
}

std::vector<MarkdownLinkSpan> MarkdownLinkSpans(std::string_view text) {
  std::vector<MarkdownLinkSpan> spans;
  PageScan scan;
  Reader(text, PageScanMode::kLinksOnly, {})
      .Run(
          [&](Found&& found) {
            if (found.span) spans.push_back(std::move(*found.span));
          },
          scan);
  return spans;
}

bool MarkdownKeepsComment(std::string_view text, std::string_view comment) {
  const Document document = Parse(text);
  bool kept = false;
  cmark_iter* iter = cmark_iter_new(document.get());
  for (cmark_event_type event; !kept && (event = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
    cmark_node* node = cmark_iter_get_node(iter);
    const cmark_node_type type = cmark_node_get_type(node);
    if (event == CMARK_EVENT_ENTER &&
        (type == CMARK_NODE_HTML_INLINE || type == CMARK_NODE_HTML_BLOCK)) {
      kept = Literal(node).find(comment) != npos;
    }
  }
  cmark_iter_free(iter);
  return kept;
}

}  // namespace quimbel
