#include "repair/line_rewrite.h"

namespace quimbel {
namespace {

constexpr std::string_view kOpen = "<!--";
constexpr std::string_view kClose = "-->";

bool IsMoved(const std::string& reason) {
  return reason.find("302") != std::string::npos || reason.find("301") != std::string::npos;
}

}  // namespace

std::optional<std::string> RewriteLine(std::string_view line, const RepairRequest& request,
                                       const RepairOptions& options, std::string_view file_name) {
  if (options.skipNonHttp && request.reason.rfind("Error:", 0) == 0) return std::string(line);
  switch (static_cast<RepairType>(options.type)) {
    case RepairType::kRemoveLine:
      return std::nullopt;
    case RepairType::kReplaceUrl: {
      std::string text(line);
      if (options.removeComments) {
        // Only comments that open and close on this line, in that order.
        for (;;) {
          const std::size_t open = text.find(kOpen);
          const std::size_t close = text.find(kClose);
          if (open == std::string::npos || close == std::string::npos || close < open) break;
          text.erase(open, close + kClose.size() - open);
        }
      }
      const std::size_t at = text.find(request.url);
      // The URL stood only inside a removed comment: nothing is left to
      // replace, and the comment-free line is the repair.
      if (at == std::string::npos) return text;
      const bool alternate =
          options.useAlternateUrl && IsMoved(request.reason) && !request.alternate_url.empty();
      std::string rewritten = text.substr(0, at);
      rewritten += alternate ? request.alternate_url : std::string(file_name);
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

}  // namespace quimbel
