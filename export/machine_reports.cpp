#include "export/machine_reports.h"

#include <libxml/xmlwriter.h>

#include <array>
#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "core/status_code_table.h"
#include "export/report_fields.h"
#include "export/report_writers.h"
#include "links/html_links.h"

namespace quimbel {
namespace {

// Sets `name` to the text; bytes that are not UTF-8 are shown as U+FFFD
// there and kept exactly, as hex, in `name`_hex.
void PutText(nlohmann::ordered_json& object, const std::string& name, std::string_view text) {
  if (IsUtf8(text)) {
    object[name] = text;
    return;
  }
  object[name] = Displayable(text);
  object[name + "_hex"] = Hex(text);
}

nlohmann::ordered_json JsonOptions(const RunFacts& facts) {
  nlohmann::ordered_json options;
  options["recurse"] = facts.recurse;
  options["all_files"] = facts.all_files;
  options["html_only"] = facts.html_only;
  options["timeout"] = facts.timeout_seconds;
  options["per_host"] = facts.per_host;
  options["max_redirects"] = facts.max_redirects;
  options["filter"] = facts.filter;
  options["accept"] = facts.accept;
  options["exclude"] = nlohmann::ordered_json::array();
  for (const std::string& pattern : facts.exclude)
    options["exclude"].push_back(Displayable(pattern));
  options["include"] = nlohmann::ordered_json::array();
  for (const std::string& pattern : facts.include)
    options["include"].push_back(Displayable(pattern));
  PutText(options, "root", facts.local.site_root);
  options["site_url"] = Displayable(facts.local.site_url);
  options["resources"] = facts.local.resources;
  return options;
}

nlohmann::ordered_json JsonFile(const FileRecord& file) {
  nlohmann::ordered_json entry;
  PutText(entry, "file", file.path);
  entry["urls_tested"] = file.urls_tested;
  entry["url_errors"] = file.url_errors;
  entry["skipped"] = file.skipped;
  if (!file.not_requested().empty()) {
    auto& links = entry["not_requested"] = nlohmann::ordered_json::array();
    for (const CheckedLink& link : file.not_requested()) {
      nlohmann::ordered_json item;
      item["line"] = link.line;
      PutText(item, "url", link.url);
      item["reason"] = kNotRequestedReason;
      links.push_back(item);
    }
  }
  return entry;
}

// A JSON object written field by field, each array item by item, exactly
// as dump(2) writes the whole: a crawl of a million pages lists a million
// files, and a tree of them all would cost gigabytes before a byte is out.
class JsonObjectWriter {
 public:
  explicit JsonObjectWriter(std::ostream& out) : out_(out) { out_ << '{'; }
  void Field(std::string_view name, const nlohmann::ordered_json& value) {
    Name(name);
    Put(value, 1);
  }
  void StartArray(std::string_view name) {
    Name(name);
    items_ = 0;
  }
  void Item(const nlohmann::ordered_json& value) {
    out_ << (items_++ == 0 ? "[\n    " : ",\n    ");
    Put(value, 2);
  }
  void EndArray() { out_ << (items_ == 0 ? "[]" : "\n  ]"); }
  void End() { out_ << (fields_ == 0 ? "}" : "\n}"); }

 private:
  void Name(std::string_view name) {
    out_ << (fields_++ == 0 ? "\n  " : ",\n  ") << nlohmann::json(name).dump() << ": ";
  }
  // `value` as dump(2) writes it `depth` levels in: its strings hold no
  // line break, so each one of the dump is a new line to indent.
  void Put(const nlohmann::ordered_json& value, int depth) {
    const std::string text = value.dump(2);
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
      out_ << std::string_view(text).substr(at, end + 1 - at) << indent;
    out_ << std::string_view(text).substr(at);
  }

  std::ostream& out_;
  std::size_t fields_ = 0;
  std::size_t items_ = 0;
};

// A row's entry; `category` becomes its category, or -1 for none.
nlohmann::ordered_json JsonRow(const ResultRow& row, const RunFacts& facts, int& category) {
  nlohmann::ordered_json entry;
  PutText(entry, "file", FileOf(row));
  entry["line"] = row.line;
  PutText(entry, "url", row.text(ResultColumn::kUrl));
  entry["kind"] = LinkKindName(row.kind);
  entry["target"] = nullptr;
  if (!row.target().empty()) {
    // A crawled page's link: the address it leads to.
    PutText(entry, "target", row.target());
  } else if (IsLocalCode(row.code)) {
    if (const auto target = LocalLinkTarget(row.text(ResultColumn::kUrl), FileOf(row), facts.local))
      PutText(entry, "target", *target);
  }
  PutText(entry, "reason", row.text(ResultColumn::kReason));
  entry["code"] = row.code;
  // A row made for a reply nobody understood has no category.
  category = row.code == 0 ? -1 : StatusCodeTable::CategoryIndex(row.code).value_or(-1);
  entry["category"] = category >= 0 ? nlohmann::ordered_json(category) : nlohmann::ordered_json();
  PutText(entry, "link_text", row.text(ResultColumn::kSiteName));
  PutText(entry, "alternate_url", row.text(ResultColumn::kAlternateUrl));
  // Where a followed move led, hop by hop.
  entry["redirects"] = nlohmann::ordered_json::array();
  const std::string& chain = row.redirects();
  for (std::size_t at = 0; at < chain.size();) {
    const std::size_t end = std::min(chain.find('\n', at), chain.size());
    entry["redirects"].push_back(Displayable(std::string_view(chain).substr(at, end - at)));
    at = end + 1;
  }
  if (facts.history) entry["new"] = row.new_since_last;
  return entry;
}

}  // namespace

void WriteJsonReport(std::ostream& out, const RunReport& report) {
  const RunFacts& facts = report.facts;
  JsonObjectWriter json(out);
  json.Field("version", facts.version);
  json.Field("started", IsoTime(facts.started));
  json.Field("ended", IsoTime(facts.ended));
  nlohmann::ordered_json path;
  PutText(path, "path", facts.path);
  for (const auto& [name, value] : path.items())
    json.Field(name, value);
  json.Field("stopped", facts.stopped);
  if (facts.history)
    json.Field("fixed", facts.fixed ? nlohmann::ordered_json(*facts.fixed) : nullptr);
  json.Field("parallel", facts.parallel);
  json.Field("options", JsonOptions(facts));
  json.StartArray("files");
  for (const FileRecord& file : report.files)
    json.Item(JsonFile(file));
  json.EndArray();
  std::map<int, std::size_t> per_category;
  std::size_t uncategorised = 0;
  json.StartArray("rows");
  for (const ResultRow& row : report.rows.rows()) {
    int category = -1;
    json.Item(JsonRow(row, facts, category));
    if (category >= 0) {
      ++per_category[category];
    } else {
      ++uncategorised;
    }
  }
  json.EndArray();
  nlohmann::ordered_json counts = nlohmann::ordered_json::array();
  for (const auto& [index, count] : per_category) {
    const StatusCategory& category = StatusCodeTable::Categories()[static_cast<std::size_t>(index)];
    counts.push_back({{"category", index},
                      {"code", category.code},
                      {"reason", category.reason},
                      {"rows", count}});
  }
  if (uncategorised > 0) {
    counts.push_back({{"category", nullptr},
                      {"code", nullptr},
                      {"reason", kUnknownErrorReason},
                      {"rows", uncategorised}});
  }
  json.Field("counts", counts);
  json.Field("totals", {{"files", report.files.size()},
                        {"urls_tested", TestedTotal(report.files)},
                        {"rows", report.rows.size()},
                        {"skipped", SkippedTotal(report.files)}});
  json.End();
  out << '\n';
}

namespace {

// libxml2's writer into memory, freed on every path.
struct XmlBuffer {
  xmlBufferPtr buffer = xmlBufferCreate();
  xmlTextWriterPtr writer = xmlNewTextWriterMemory(buffer, 0);
  ~XmlBuffer() {
    if (writer != nullptr) xmlFreeTextWriter(writer);
    if (buffer != nullptr) xmlBufferFree(buffer);
  }
};

const xmlChar* X(const char* text) {
  return reinterpret_cast<const xmlChar*>(text);
}

void Attribute(xmlTextWriterPtr writer, const char* name, std::string_view value) {
  xmlTextWriterWriteAttribute(writer, X(name), X(Displayable(value, true).c_str()));
}

}  // namespace

void WriteJunitReport(std::ostream& out, const RunReport& report) {
  XmlBuffer xml;
  xmlTextWriterPtr writer = xml.writer;
  xmlTextWriterSetIndent(writer, 1);
  xmlTextWriterStartDocument(writer, nullptr, "UTF-8", nullptr);
  xmlTextWriterStartElement(writer, X("testsuites"));
  Attribute(writer, "name", "quimbel");
  Attribute(writer, "tests", std::to_string(TestedTotal(report.files)));
  Attribute(writer, "failures", std::to_string(report.rows.size()));
  const std::chrono::duration<double> took = report.facts.ended - report.facts.started;
  Attribute(writer, "time", std::to_string(took.count()));
  for (const FileRecord& file : report.files) {
    xmlTextWriterStartElement(writer, X("testsuite"));
    Attribute(writer, "name", file.path);
    Attribute(writer, "tests", std::to_string(file.links().size()));
    Attribute(writer, "failures", std::to_string(file.url_errors));
    Attribute(writer, "skipped", std::to_string(file.skipped));
    for (const CheckedLink& link : file.links()) {
      xmlTextWriterStartElement(writer, X("testcase"));
      Attribute(writer, "name", link.url);
      Attribute(writer, "classname", file.path);
      Attribute(writer, "file", file.path);
      Attribute(writer, "line", std::to_string(link.line));
      if (link.row) {
        const ResultRow& row = report.rows.row(*link.row);
        const std::string reason(row.text(ResultColumn::kReason));
        xmlTextWriterStartElement(writer, X("failure"));
        Attribute(writer, "message", reason + " (line " + std::to_string(link.line) + ")");
        Attribute(writer, "type", reason);
        const std::string body = file.path + ":" + std::to_string(link.line) + ": " + link.url +
                                 ": " + reason +
                                 "\nLink text: " + std::string(row.text(ResultColumn::kSiteName));
        xmlTextWriterWriteString(writer, X(Displayable(body, true).c_str()));
        xmlTextWriterEndElement(writer);
      }
      xmlTextWriterEndElement(writer);
    }
    xmlTextWriterEndElement(writer);
  }
  xmlTextWriterEndDocument(writer);
  xmlTextWriterFlush(writer);
  out.write(reinterpret_cast<const char*>(xmlBufferContent(xml.buffer)),
            static_cast<std::streamsize>(xmlBufferLength(xml.buffer)));
}

void WriteGithubReport(std::ostream& out, const RunReport& report) {
  for (const ResultRow& row : report.rows.rows()) {
    // The runner reads UTF-8: other bytes show as U+FFFD.
    out << "::error file=" << GithubEscape(Shown(FileOf(row)), true) << ",line=" << row.line
        << ",title=" << GithubEscape(row.text(ResultColumn::kReason), true)
        << "::" << GithubEscape(Shown(row.text(ResultColumn::kUrl)), false) << '\n';
  }
}

namespace {

// Text for a Markdown table cell: one line, the characters that would end
// the cell or start markup escaped.
std::string MarkdownCell(std::string_view text) {
  std::string out;
  for (const char c : Shown(text)) {
    if (c == '\r' || c == '\n') {
      out += ' ';
      continue;
    }
    if (std::string_view("\\`*_[]<>|#!~&").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

void WriteMarkdownReport(std::ostream& out, const RunReport& report) {
  const std::size_t skipped = SkippedTotal(report.files);
  out << "## Quimbel link check: " << MarkdownCell(report.facts.path) << "\n\n"
      << TestedTotal(report.files) << " links checked in " << report.files.size() << " files, "
      << report.rows.size() << " listed";
  if (skipped > 0) out << ", " << skipped << " skipped";
  if (report.facts.stopped) out << " (stopped before the end)";
  out << ".\n\n| File | Links | Listed | Skipped |\n|---|---:|---:|---:|\n";
  for (const FileRecord& file : report.files) {
    out << "| " << MarkdownCell(file.path) << " | " << file.urls_tested << " | " << file.url_errors
        << " | " << file.skipped << " |\n";
  }
  const std::string* file = nullptr;
  for (const ResultRow& row : report.rows.rows()) {
    if (file == nullptr || *file != FileOf(row)) {
      file = &FileOf(row);
      out << "\n### " << MarkdownCell(*file)
          << "\n\n| Line | URL | Reason | Link text |\n|---:|---|---|---|\n";
    }
    out << "| " << row.line << " | " << MarkdownCell(row.text(ResultColumn::kUrl)) << " | "
        << MarkdownCell(row.text(ResultColumn::kReason)) << " | "
        << MarkdownCell(row.text(ResultColumn::kSiteName)) << " |\n";
  }
}

void WriteCsvReport(std::ostream& out, const RunReport& report) {
  out << "file,line,url,reason,code,category,link_text,alternate_url,target\r\n";
  for (const ResultRow& row : report.rows.rows()) {
    const auto category = StatusCodeTable::CategoryIndex(row.code);
    std::string target;
    if (IsLocalCode(row.code)) {
      target = LocalLinkTarget(row.text(ResultColumn::kUrl), FileOf(row), report.facts.local)
                   .value_or("");
    }
    // UTF-8 throughout, controls made visible: what a spreadsheet shows.
    const auto field = [](std::string_view text) { return CsvField(Shown(text)); };
    out << field(FileOf(row)) << ',' << row.line << ',' << field(row.text(ResultColumn::kUrl))
        << ',' << field(row.text(ResultColumn::kReason)) << ',' << row.code << ','
        << (category && row.code != 0 ? std::to_string(*category) : "") << ','
        << field(row.text(ResultColumn::kSiteName)) << ','
        << field(row.text(ResultColumn::kAlternateUrl)) << ',' << field(target) << "\r\n";
  }
}

std::string GithubEscape(std::string_view text, bool property) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '%':
        out += "%25";
        break;
      case '\r':
        out += "%0D";
        break;
      case '\n':
        out += "%0A";
        break;
      case ':':
        out += property ? "%3A" : ":";
        break;
      case ',':
        out += property ? "%2C" : ",";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

void WriteReport(std::ostream& out, ReportFormat format, const RunReport& report) {
  ReportFormatOf(format).write(out, report);
}

}  // namespace quimbel
