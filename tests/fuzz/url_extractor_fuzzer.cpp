// libFuzzer target for link extraction: any bytes must scan without a
// fault. Every probed link must be an anchor's href naming a probed scheme,
// with a line; the page scan must place every link at a "<" in file order
// and find the same fragment names whether it collects links or not; and
// every reference must resolve to a URL that reads back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "links/html_links.h"
#include "links/url_extractor.h"
#include "links/url_resolver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  quimbel::LinkLists lists;
  std::size_t count = 0;
  quimbel::ExtractUrlsFromText(text, lists, count);
  if (count != lists.urls.size() || lists.anchors.size() != count) std::abort();
  for (std::size_t i = 0; i < count; ++i) {
    if (!quimbel::IsProbedUrl(quimbel::RequestUrl(lists.urls[i])) || lists.lines[i] == 0) {
      std::abort();
    }
    if (lists.anchors[i].find('\t') != std::string::npos) std::abort();
  }

  const quimbel::PageScan page = quimbel::ScanPage(text);
  std::size_t previous = 0;
  for (const auto& link : page.links) {
    if (link.offset >= size || text[link.offset] != '<' || link.offset < previous) std::abort();
    if (link.url().empty() || link.line == 0) std::abort();
    previous = link.offset;
    // A reference resolves to a URL with every blank and control byte
    // escaped, which reads back as itself.
    const auto resolved =
        quimbel::ResolveUrl("http://h.test/a/b.html?q#f", link.url(), "windows-1252");
    if (resolved) {
      for (const char c : *resolved) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) std::abort();
      }
      if (quimbel::NormalizeUrl(*resolved) != resolved) std::abort();
    }
  }
  if (quimbel::ScanPage(text, quimbel::PageScanMode::kFragmentsOnly).fragments != page.fragments) {
    std::abort();
  }
  return 0;
}
