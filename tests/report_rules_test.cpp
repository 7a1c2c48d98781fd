#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/link_rules.h"
#include "core/project_config.h"
#include "core/report_filter.h"
#include "core/run_options.h"
#include "core/status_code_table.h"
#include "export/machine_reports.h"
#include "export/report_fields.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

struct CountingBeeper : Beeper {
  void Beep(BeepKind kind) override {
    if (kind == BeepKind::kExclamation) ++exclamations;
  }
  int exclamations = 0;
};

TEST(StatusCodeTable, BoundariesOfEveryBlockAndTheTablesOrder) {
  const struct {
    OutcomeCode code;
    int index;
    const char* reason;
  } cases[] = {
      {200, 0, "HTTP Code 200 OK"},
      {206, 6, "HTTP Code 206 Partial Content"},
      {207, 47, "HTTP Code 207 Multi-Status"},
      {226, 49, "HTTP Code 226 IM Used"},
      {300, 7, "HTTP Code 300 Multiple Choices"},
      {302, 9, "HTTP Code 302 Moved Temporarily"},
      {305, 12, "HTTP Code 305 Use Proxy"},
      {307, 43, "HTTP Code 307 Temporary Redirect"},
      {308, 44, "HTTP Code 308 Permanent Redirect"},
      {400, 13, "HTTP Code 400 Bad Request"},
      {414, 27, "HTTP Code 414 Request-URI Too Long"},
      {415, 28, "HTTP Code 415 Unsupported Media Type"},
      {416, 50, "HTTP Code 416 Range Not Satisfiable"},
      {429, 45, "HTTP Code 429 Too Many Requests"},
      {451, 46, "HTTP Code 451 Unavailable For Legal Reasons"},
      {500, 29, "HTTP Code 500 Internal Server Error"},
      {505, 34, "HTTP Code 505 HTTP Version Not Supported"},
      {506, 60, "HTTP Code 506 Variant Also Negotiates"},
      {511, 64, "HTTP Code 511 Network Authentication Required"},
      {10000, 35, "Error: Unspecified Socket Error"},
      {10002, 37, "Error: Can't Find Named Host"},
      {10005, 40, "Error: Host Took Too Long to Respond"},
      {10007, 42, "Error: Select Failed"},
      {10008, 65, "Error: Secure Connection Failed"},
      {10009, 68, "Error: Redirect Loop"},
      {10010, 69, "Error: Too Many Redirects"},
      {10011, 70, "Error: Anchor Not Found"},
      {10012, 71, "Error: Stream Reset by Host"},
  };
  // The reason, whether the code was unknown, and the beeps that cost.
  const auto reason_of = [](OutcomeCode code) {
    CountingBeeper beeper;
    bool unknown = false;
    const std::string reason(ReasonText(code, unknown, beeper));
    return std::tuple{reason, unknown, beeper.exclamations};
  };
  for (const auto& c : cases) {
    EXPECT_EQ(reason_of(c.code), std::tuple(std::string(c.reason), false, 0));
    ASSERT_EQ(StatusCodeTable::CategoryIndex(c.code), c.index) << c.code;
  }
  // Codes between the blocks have no category.
  for (const OutcomeCode code :
       {199u, 209u, 299u, 306u, 309u, 418u, 509u, 512u, 9999u, 10013u, 0u, 4294967295u}) {
    EXPECT_EQ(reason_of(code), std::tuple(std::string("Error: UNKNOWN Error!"), true, 1)) << code;
    EXPECT_FALSE(StatusCodeTable::CategoryIndex(code).has_value()) << code;
  }
  // The table is in the filter's order, each reason with its prefix.
  const auto& table = StatusCodeTable::Categories();
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].code);
    EXPECT_EQ(table[i].index, static_cast<int>(i));
    EXPECT_EQ(StatusCodeTable::CategoryIndex(table[i].code), static_cast<int>(i));
    const std::string reason(table[i].reason);
    // Repair tells connection failures by "Error:"; a local link's fault is the page's own.
    const std::string prefix = table[i].code < 10000
                                   ? "HTTP Code " + std::to_string(table[i].code) + " "
                               : table[i].code >= kLocalFileNotFound ? "Local "
                                                                     : "Error: ";
    EXPECT_EQ(reason.rfind(prefix, 0), 0u) << reason;
  }
}

// The added categories are all in the default, client errors but 429 in the worst offenders;
// codes without a category are reported whatever the filter says.
TEST(ReportFilter, PresetsAndAnyCharacterButZeroReports) {
  const struct {
    std::string_view filter;
    std::vector<OutcomeCode> reported, passed;
  } cases[] = {
      {kDefaultFilter, {201, 404, 10004, 10007, 307, 511}, {200}},
      {kTypeBFilter,
       {404, 401, 415, 10002, 416, 451, 418, 10008},
       {400, 500, 302, 10004, 10001, 200, 429, 308, 207}},
  };
  for (const auto& c : cases) {
    const ReportFilter filter{std::string(c.filter)};
    for (const OutcomeCode code : c.reported)
      EXPECT_TRUE(filter.IsReported(code)) << c.filter << " " << code;
    for (const OutcomeCode code : c.passed)
      EXPECT_FALSE(filter.IsReported(code)) << c.filter << " " << code;
  }
  // Any character but "0" reports.
  std::string filter(43, '0');
  filter[17] = 'x';  // 404
  EXPECT_TRUE(ReportFilter(filter).IsReported(404));
  EXPECT_FALSE(ReportFilter(filter).IsReported(403));
}

TEST(ReportFilter, LoadingChecksOnlyTheLength) {
  const std::string added(kDefaultFilter.substr(43));
  // An earlier filter keeps its choices and reports the added ones.
  const struct {
    std::string stored, added;
  } cases[] = {
      {std::string(kDefaultFilter), ""}, {std::string(72, '?'), ""},
      {std::string(43, '0'), added},     {std::string(43, '?'), added},
      {std::string(65, '0'), "1111111"}, {std::string(66, '0'), "111111"},
      {std::string(68, '0'), "1111"},    {std::string(70, '0'), "11"},
      {std::string(71, '0'), "1"},
  };
  const auto loaded = [](const std::string& stored) {
    const LoadedFilter filter = LoadFilterText(stored);
    return std::tuple(filter.reset_to_default, filter.extended, filter.filter.text());
  };
  for (const auto& c : cases)
    EXPECT_EQ(loaded(c.stored), std::tuple(false, !c.added.empty(), c.stored + c.added));
  for (const std::size_t length : {42, 44, 64, 67, 69, 73, 0}) {
    EXPECT_EQ(loaded(std::string(length, '1')),
              std::tuple(true, false, std::string(kDefaultFilter)))
        << length;
  }
  // An all-"1" filter reports code 200 too.
  EXPECT_TRUE(LoadFilterText(std::string(43, '1')).filter.IsReported(200));
}

TEST(LinkRules, ExcludeUnlessIncludedAndHostilePatternsCostLittle) {
  const auto made = LinkRules::Make({"^https?://ads\\.", "/private/", "\\.PDF$"}, {"/private/ok"});
  ASSERT_TRUE(made.ok());
  const LinkRules& rules = *made;
  // A huge link is matched whole, in time linear in its length.
  for (const std::string& url :
       {std::string("http://ads.example/x"), std::string("https://ads.example/x"),
        std::string("docs/private/page.html"), std::string("report.PDF"),
        "/private/" + std::string(1 << 20, 'a'), std::string(1 << 20, 'a') + "/private/"}) {
    EXPECT_TRUE(rules.Skips(url)) << url.substr(0, 60);
  }
  // Case counts, as in ECMAScript.
  for (const char* url : {"ftp://ads.example/x", "http://example.com/ads.html",
                          "docs/private/ok.html", "report.pdf", ""}) {
    EXPECT_FALSE(rules.Skips(url)) << url;
  }
  EXPECT_FALSE(LinkRules().Skips("anything"));
  EXPECT_FALSE(LinkRules::Make({"a("}, {}).ok());
  EXPECT_FALSE(LinkRules::Make({}, {"*"}).ok());

  // Hostile patterns: no exponential match, no deep recursion, no endless list.
  const auto backtracker = LinkRules::Make({"(a+)+$"}, {});
  ASSERT_TRUE(backtracker.ok());
  EXPECT_FALSE(backtracker->Skips(std::string(5000, 'a') + "!"));

  // As deep as a pattern of 4 KiB can nest: no recursion overflows.
  const std::string nested = std::string(2047, '(') + "a" + std::string(2047, ')');
  const auto deep = LinkRules::Make({nested}, {});
  ASSERT_TRUE(deep.ok());
  EXPECT_TRUE(deep->Skips("xa"));

  const std::vector<std::string> many(kMostPatterns + 1, "x");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{std::string(100000, 'a')},
       "the pattern \"" + std::string(80, 'a') + "...\" is longer than"},
      {{"(?=look)ahead"}, "the pattern \"(?=look)ahead\" is no regular expression"},
      {{"(a)\\1"}, "the pattern \"(a)\\1\" is no regular expression"},
      {many, "too many patterns: at most 10000 are taken, not 10001"},
  };
  for (const auto& [excludes, start] : cases) {
    const std::string message = LinkRules::Make(excludes, {}).message();
    EXPECT_EQ(message.substr(0, start.size()), start);
    EXPECT_EQ(message.find('\n'), std::string::npos);
  }
}

TEST(LinkRules, CodeListsAndTheFilter) {
  const std::pair<const char*, std::vector<CodeRange>> cases[] = {
      {"200", {{200, 200}}},
      {"200,204, 429 ,500-599", {{200, 200}, {204, 204}, {429, 429}, {500, 599}}},
      {"10004", {{10004, 10004}}},
      {"100-10199", {{100, 10199}}},  // the lowest and highest codes there are
  };
  for (const auto& [text, ranges] : cases) {
    const auto parsed = ParseCodeList(text);
    ASSERT_TRUE(parsed.ok()) << text;
    EXPECT_EQ(*parsed, ranges);
    EXPECT_EQ(*ParseCodeList(CodeListText(ranges)), ranges);
  }
  for (const char* refused : {"", "abc", "200,", "99", "10200", "500-400", "500-", "2OO"})
    EXPECT_FALSE(ParseCodeList(refused).ok()) << refused;
  // Accepting unticks the codes' twelve categories (404, 500 to 511), and a code without one.
  ReportFilter filter;
  filter.Accept({{404, 404}, {500, 599}});
  for (const OutcomeCode code : {404u, 500u, 503u, 599u})
    EXPECT_FALSE(filter.IsReported(code)) << code;
  for (const OutcomeCode code : {403u, 410u, 301u, 10004u, 600u})
    EXPECT_TRUE(filter.IsReported(code)) << code;
  EXPECT_EQ(filter.text()[static_cast<std::size_t>(*StatusCodeTable::CategoryIndex(404))], '0');
  EXPECT_EQ(std::count(filter.text().begin(), filter.text().end(), '0'),
            std::count(kDefaultFilter.begin(), kDefaultFilter.end(), '0') + 12);
}

TEST(LinkRules, EscapesOfGithubAndCsv) {
  const std::tuple<std::string, std::string, std::string> github[] = {
      {"plain", "plain", "plain"},        {"100%", "100%25", "100%25"},
      {"a\r\nb", "a%0D%0Ab", "a%0D%0Ab"}, {"Error: x, y", "Error%3A x%2C y", "Error: x, y"},
      {"%0A", "%250A", "%250A"},
  };
  for (const auto& [text, property, data] : github)
    EXPECT_EQ(std::pair(GithubEscape(text, true), GithubEscape(text, false)),
              std::pair(property, data));
  const char* const csv[][2] = {{"plain", "plain"},
                                {"a,b", "\"a,b\""},
                                {"say \"hi\"", "\"say \"\"hi\"\"\""},
                                {"two\nlines", "\"two\nlines\""},
                                {"", ""}};
  for (const auto& [text, field] : csv)
    EXPECT_EQ(CsvField(text), field);
}

TEST(ProjectConfig, ValuesKeysTheWindowsShareAndTrust) {
  testing::TempFolder folder;
  folder.Write("site/quimbel.toml",
               "exclude = [\"^https://ads\\\\.\", \"/tmp/\"]\ninclude = \"keep\"\n"
               "accept = [200, \"500-599\"]\nparallel = 4\ntimeout = 30\nroot = \".\"\n"
               "recurse = true\ninsecure = false\n");
  folder.Write("site/deep/er/page.html", "");
  const auto found = FindProjectConfig((folder.path() / "site/deep/er/page.html").string());
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, (folder.path() / "site/quimbel.toml").string());
  const auto loaded = LoadProjectConfig(*found);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  const std::string site = (folder.path() / "site").lexically_normal().string();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"accept", "200,500-599"}, {"exclude", "^https://ads\\."},
      {"exclude", "/tmp/"},      {"include", "keep"},
      {"parallel", "4"},         {"recurse", ""},
      {"root", site + "/"},      {"timeout", "30"},
  };
  EXPECT_EQ(loaded->options, expected);

  RunOptions run;
  EXPECT_TRUE(ApplyConfigOptions(*loaded, run).ok());
  EXPECT_EQ(run.exclude, (std::vector<std::string>{"^https://ads\\.", "/tmp/"}));
  EXPECT_EQ(run.include, (std::vector<std::string>{"keep"}));
  EXPECT_EQ(run.timeout, 30);
  EXPECT_EQ(run.parallel, 4);
  EXPECT_EQ(run.accept, (std::vector<CodeRange>{{200, 200}, {500, 599}}));
  EXPECT_EQ(run.local.site_root, site + "/");
  EXPECT_EQ(ApplyConfigOptions({"x.toml", {{"timeout", "3"}}}, run).message(),
            "x.toml: the timeout must be a number of seconds from 5 to 1000");
  // Each list the file names replaces the stored one whole; the others stay.
  RunOptions stored;
  stored.exclude = {"mine"};
  stored.include = {"kept"};
  stored.list_layers = {{"exclude", 0}, {"include", 0}};
  ASSERT_TRUE(ApplyConfigOptions({"y.toml", {{"exclude", "a"}, {"exclude", "b"}}}, stored).ok());
  EXPECT_EQ(stored.exclude, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stored.include, (std::vector<std::string>{"kept"}));

  // A config file is looked for no higher than a repository's root or the user's home, only when
  // it is the user's own and writable by no one else, and never sets an action or a file to write.
  const std::filesystem::path top = folder.path();
  folder.Write("quimbel.toml", "timeout = 30\n");  // above everything below
  folder.Write("repo/.git/HEAD", "ref: refs/heads/main\n");
  folder.Write("repo/site/page.html", "");
  folder.Write("home/me/site/page.html", "");
  folder.Write("open/quimbel.toml", "timeout = 30\n");
  folder.Write("open/site/page.html", "");
  ::chmod((top / "open/quimbel.toml").c_str(), 0666);
  std::filesystem::create_directories(top / "loop");
  std::filesystem::create_symlink("quimbel.toml", top / "loop/quimbel.toml");
  std::filesystem::create_directories(top / "device");
  std::filesystem::create_symlink("/dev/null", top / "device/quimbel.toml");
  const char* home = std::getenv("HOME");
  const std::string saved = home != nullptr ? home : "";
  ::setenv("HOME", (top / "home/me").c_str(), 1);
  EXPECT_EQ(FindProjectConfig((top / "repo/site/page.html").string()), std::nullopt);
  EXPECT_EQ(FindProjectConfig((top / "home/me/site/page.html").string()), std::nullopt);
  // Writable by others: passed over for the next candidate up.
  EXPECT_EQ(FindProjectConfig((top / "open/site/page.html").string()),
            (top / "quimbel.toml").string());
  const auto looping = FindProjectConfig((top / "loop/page.html").string());
  // A link to a device is found, and its reading says what it is.
  const auto device = FindProjectConfig((top / "device/page.html").string());
  ::setenv("HOME", saved.c_str(), 1);
  ASSERT_EQ(looping, (top / "loop/quimbel.toml").string());
  EXPECT_FALSE(LoadProjectConfig(*looping).ok());
  ASSERT_EQ(device, (top / "device/quimbel.toml").string());
  EXPECT_EQ(LoadProjectConfig(*device).message(), *device + ": cannot be read (no regular file)");

  for (const std::string key :
       {"repair = \"remove\"", "yes = true", "output = \"json=/tmp/x\"", "text = \"r.txt\"",
        "html = \"r.html\"", "cache = \"/home/me/.ssh/authorized_keys\""}) {
    const std::string file = folder.Write("keys/quimbel.toml", "exclude = \"x\"\n" + key + "\n");
    const std::string name = key.substr(0, key.find(' '));
    EXPECT_EQ(LoadProjectConfig(file).message(),
              file + ":2: \"" + name +
                  "\" is taken from the command line only, never from a config file");
  }
}

// Bytes from pages and servers reach reports as valid UTF-8 that cannot drive a terminal: control
// bytes become their pictures.
TEST(ReportFields, BytesBecomeTextThatCannotDeceive) {
  for (const std::string_view good : {"plain", "\xC2\x80", "\xE0\xA0\x80", "\xEF\xBF\xBD",
                                      "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"}) {
    EXPECT_TRUE(IsUtf8(good)) << Hex(good);
  }
  for (const std::string_view bad :
       {"\xC0\x80", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82", "\x80"}) {
    EXPECT_FALSE(IsUtf8(bad)) << Hex(bad);
  }
  const std::string kBad = "\xEF\xBF\xBD";
  const struct {
    std::string_view bytes;
    std::string shown;
  } shown[] = {
      {"a\x1B[2Jb", "a\xE2\x90\x9B[2Jb"},
      {"\x7F", "\xE2\x90\xA1"},
      {std::string_view("\x00", 1), "\xE2\x90\x80"},
      {"\x1F", "\xE2\x90\x9F"},
      {"a\tb\r\nc", "a\tb\r\nc"},
      {"\xC0\x80x", kBad + kBad + "x"},
  };
  for (const auto& s : shown)
    EXPECT_EQ(Shown(s.bytes), s.shown) << Hex(s.bytes);
  EXPECT_EQ(Displayable("a\x0B\r\n\t", true), "a" + kBad + "\r\n\t");
  EXPECT_EQ(Displayable("a\x0B", false), "a\x0B");
}

// Markdown escapes what would end a table cell, a lone carriage return too, which could overwrite
// a line; GitHub's escapes it; JUnit counts every link tested.
TEST(MachineReports, MarkdownCellsGithubLinesAndJunitTotals) {
  ResultList rows;
  rows.AppendResultRow("http://x.test/a|b\rc", 3);
  rows.SetResultColumn(ResultColumn::kReason, "HTTP Code 404 Not Found");
  rows.SetResultColumn(ResultColumn::kSiteName, "one | two\nthree\rfour", "/s/p|q.html");
  // Links tested, rows, files and links listed all differ, so no count stands in for another.
  FileRecords files;
  files.push_back({"/s/p|q.html", 5, 1, 2});
  files.back().more().links = {{"http://x.test/a|b", 3, 0}, {"http://x.test/ok", 4, {}}};
  files.push_back({"/s/r.html", 2, 0, 0});
  files.back().more().links = {{"u", 1, {}}, {"v", 2, {}}};
  RunFacts facts;
  facts.path = "/s";
  std::ostringstream markdown, junit, github;
  WriteReport(markdown, ReportFormat::kMarkdown, {facts, rows, files});
  WriteReport(junit, ReportFormat::kJunit, {facts, rows, files});
  WriteReport(github, ReportFormat::kGithub, {facts, rows, files});
  for (const char* line :
       {"7 links checked in 2 files, 1 listed, 2 skipped.", "| /s/p\\|q.html | 5 | 1 | 2 |",
        "### /s/p\\|q.html",
        "| 3 | http://x.test/a\\|b c | HTTP Code 404 Not Found | one \\| two three four |"})
    EXPECT_NE(markdown.str().find(line), std::string::npos) << line << "\n" << markdown.str();
  for (const char* tag :
       {"<testsuites name=\"quimbel\" tests=\"7\" failures=\"1\"",
        "<testsuite name=\"/s/p|q.html\" tests=\"2\" failures=\"1\" skipped=\"2\"",
        "<testsuite name=\"/s/r.html\" tests=\"2\" failures=\"0\" skipped=\"0\""})
    EXPECT_NE(junit.str().find(tag), std::string::npos) << tag << "\n" << junit.str();
  EXPECT_EQ(github.str(),
            "::error file=/s/p|q.html,line=3,title=HTTP Code 404 Not Found::"
            "http://x.test/a|b%0Dc\n");
}

}  // namespace
}  // namespace quimbel
