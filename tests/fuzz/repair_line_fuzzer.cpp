// libFuzzer target for the repair's line rewrite: any line, URL and
// options must rewrite without a fault, keep every byte that is not the
// URL or a removed comment, and follow the shape of its type. Comment
// removal must agree with the literal method that erases one comment at a
// time and searches again from the start.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "repair/line_rewrite.h"

namespace {

std::string LiteralCommentRemoval(std::string text) {
  for (;;) {
    const std::size_t open = text.find("<!--");
    const std::size_t close = text.find("-->");
    if (open == std::string::npos || close == std::string::npos || close < open) return text;
    text.erase(open, close + 3 - open);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t flags = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  // The URL is a piece of the line, so it is usually found.
  const std::size_t cut = text.empty() ? 0 : data[1] % text.size();
  const std::size_t length = 1 + (flags >> 3) % 8;
  quimbel::RepairRequest request{
      text.substr(cut, length),
      (flags & 0x40) ? "Error: Can't Connect to Host" : "HTTP Code 301 Moved Permanently",
      (flags & 0x80) ? "http://alt.test/" : ""};
  if (request.url.empty()) return 0;
  quimbel::RepairOptions options;
  options.type = static_cast<quimbel::RepairType>(flags % 3);
  options.skipNonHttp = flags & 0x04;
  options.preserveAsComment = flags & 0x08;
  options.removeComments = flags & 0x10;
  options.useAlternateUrl = flags & 0x20;

  const auto result = quimbel::RewriteLine(text, request, options, "page.htm");
  const bool skipped = options.skipNonHttp && (flags & 0x40);
  if (skipped && (!result || *result != text)) std::abort();
  if (!skipped && options.type == quimbel::RepairType::kRemoveLine && result) std::abort();
  if (!skipped && options.type == quimbel::RepairType::kDisableLine &&
      (!result || *result != std::string(quimbel::kRepairMarker) + text + "-->")) {
    std::abort();
  }
  if (!skipped && options.type == quimbel::RepairType::kReplaceUrl && options.removeComments) {
    const std::string stripped = LiteralCommentRemoval(text);
    const std::size_t at = stripped.find(request.url);
    if (at == std::string::npos ? *result != stripped
                                : result->compare(0, at, stripped, 0, at) != 0) {
      std::abort();
    }
  }
  if (!skipped && options.type == quimbel::RepairType::kReplaceUrl && !options.removeComments) {
    // Only the URL's first occurrence changes, and the marker follows.
    const bool moved = !(flags & 0x40);  // the 301 reason
    const std::string replacement =
        options.useAlternateUrl && moved && !request.alternate_url.empty() ? request.alternate_url
                                                                           : "page.htm";
    const std::string marker =
        options.preserveAsComment ? std::string(quimbel::kRepairMarker) + request.url + "-->" : "";
    if (result->size() != text.size() - request.url.size() + replacement.size() + marker.size() ||
        result->compare(result->size() - marker.size(), marker.size(), marker) != 0) {
      std::abort();
    }
  }
  return 0;
}
