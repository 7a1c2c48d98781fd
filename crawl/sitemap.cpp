#include "crawl/sitemap.h"

#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <memory>

#include "platform/ascii.h"

namespace quimbel {
namespace {

std::string_view Text(const xmlChar* text) {
  return text == nullptr ? std::string_view()
                         : std::string_view(reinterpret_cast<const char*>(text));
}

}  // namespace

Sitemap ParseSitemap(std::string_view text) {
  Sitemap sitemap;
  // No network, no external entities, no DTD: a sitemap is plain data.
  const std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)> reader(
      xmlReaderForMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      &xmlFreeTextReader);
  if (!reader) return sitemap;
  std::string parent;  // "url" or "sitemap": the element a <loc> is in
  int result = 0;
  while ((result = xmlTextReaderRead(reader.get())) == 1) {
    if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT) continue;
    const std::string_view name = Text(xmlTextReaderConstLocalName(reader.get()));
    if (name == "url" || name == "sitemap") {
      parent = name;
      continue;
    }
    if (name != "loc" || parent.empty()) continue;
    const long line = xmlGetLineNo(xmlTextReaderCurrentNode(reader.get()));
    xmlChar* content = xmlTextReaderReadString(reader.get());
    SitemapEntry entry{std::string(TrimAsciiBlanks(Text(content))),
                       static_cast<std::size_t>(line > 0 ? line : 0)};
    xmlFree(content);
    if (entry.url.empty()) continue;
    (parent == "url" ? sitemap.pages : sitemap.sitemaps).push_back(std::move(entry));
  }
  sitemap.readable = result == 0;
  return sitemap;
}

}  // namespace quimbel
