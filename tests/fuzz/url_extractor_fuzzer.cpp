// libFuzzer target for link extraction: any bytes must scan without a
// fault, and the links must not depend on how the bytes were chunked. The
// page scan of attributes must place every link at a "<" and find the same
// fragment names whether it collects links or not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "links/html_links.h"
#include "links/url_extractor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  quimbel::LinkScanner whole;
  whole.Feed(text);
  const auto expected = whole.Finish();

  // Chunk sizes from the input itself, so the fuzzer explores boundaries.
  quimbel::LinkScanner chunked;
  std::size_t at = 0;
  std::size_t step = size > 0 ? 1 + data[0] % 7 : 1;
  while (at < size) {
    const std::size_t n = std::min(step, size - at);
    chunked.Feed(text.substr(at, n));
    at += n;
    step = 1 + (step * 5 + 3) % 11;
  }
  if (chunked.Finish() != expected) std::abort();

  for (const auto& link : expected) {
    if (link.url.empty() || link.anchor.find('\t') != std::string::npos) std::abort();
    if (link.offset >= size || text[link.offset] != link.url[0]) std::abort();
  }

  const quimbel::PageScan page = quimbel::ScanPage(text);
  std::size_t previous = 0;
  for (const auto& link : page.links) {
    if (link.offset >= size || text[link.offset] != '<' || link.offset < previous) std::abort();
    if (link.url.empty() || link.line == 0) std::abort();
    previous = link.offset;
  }
  if (quimbel::ScanPage(text, quimbel::PageScanMode::kFragmentsOnly).fragments != page.fragments) {
    std::abort();
  }
  return 0;
}
