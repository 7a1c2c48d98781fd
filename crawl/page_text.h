// A fetched page's text in UTF-8, whatever charset it was sent in: the
// Content-Type's charset, else a <meta> in its first kilobyte, else UTF-8.
// Line breaks stay where they were, so lines count the same. Pure; any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace quimbel {

// The charset a page declares, lower case; empty when it declares none.
std::string DeclaredCharset(std::string_view content_type, std::string_view body);

// The body in UTF-8. A charset iconv does not know, and bytes that are not
// valid in the charset, leave the body as it came.
std::string PageTextUtf8(std::string body, std::string_view content_type);

}  // namespace quimbel
