// URLs that stand inside a value rather than as one: the candidates of a
// srcset, the target of a refresh, and the url() and @import references of
// style sheet text. Each is found where a browser finds it, and handed on
// with its place in the value, so a row can point at its line. Pure
// functions; any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quimbel {

// One URL found in a value: as written there, the one a browser reads (the
// same unless escapes stood in it), and where the written form starts.
struct EmbeddedUrl {
  std::string_view written;
  std::string read;
  std::size_t offset = 0;
};
using EmbeddedUrlSink = std::function<void(EmbeddedUrl&& url)>;

// The image candidate URLs of a srcset (or imagesrcset) value, by the HTML
// standard's parsing: candidates part at commas, a URL runs to the next
// blank, commas at its end belong to no URL, and a descriptor's commas
// inside parentheses part nothing.
void ForEachSrcsetUrl(std::string_view value, const EmbeddedUrlSink& sink);

// The URL of a <meta http-equiv=refresh> content value ("5; url=next.html"),
// if it names one: the HTML standard's parsing, quotes and all.
void ForEachRefreshUrl(std::string_view content, const EmbeddedUrlSink& sink);

// The references of style sheet text: url(...) as a function, quoted or
// not, and the string or url() after @import, as CSS tokenizes them:
// comments and other strings hold none, and escapes are read.
void ForEachCssUrl(std::string_view css, const EmbeddedUrlSink& sink);

}  // namespace quimbel
