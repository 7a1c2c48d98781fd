// libFuzzer target for link extraction: any bytes must scan without a
// fault, and the links must not depend on how the bytes were chunked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

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
  }
  return 0;
}
