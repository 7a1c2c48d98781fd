// PackedLinks: a crawled page's links in one block of bytes while the page
// waits for its turn. A crawl reads pages long before the run reaches
// them (a link far down the site fetches its page early), so a site of a
// hundred thousand pages has most of them waiting at once: as lists each
// would cost several kilobytes before its first link, packed it costs the
// bytes of its links. Any thread; plain values.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

#include "links/url_extractor.h"

namespace quimbel {

// The links of `lists` (their targets filled in), packed.
std::string PackLinks(const LinkLists& lists);
// The lists again, as PackLinks() had them.
LinkLists UnpackLinks(std::string_view packed);

// Texts (a page's fragment names), packed, and whether they hold `text`.
std::string PackTexts(const std::unordered_set<std::string>& texts);
bool PackedTextsContain(std::string_view packed, std::string_view text);

// Each link's target and whether it is a resource, in page order, without
// unpacking the rest.
class PackedTargets {
 public:
  explicit PackedTargets(std::string_view packed) : rest_(packed) {}
  // False at the end.
  bool Next(std::string_view& target, bool& resource);

 private:
  std::string_view rest_;
};

}  // namespace quimbel
