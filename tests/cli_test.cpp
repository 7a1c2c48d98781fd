// quimbel-cli as a script runs it, one short case a flow; the engine is the unit suites' part.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "core/run_options.h"
#include "export/report_formats.h"
#include "tests/cli_runner.h"
#include "tests/scripted_server.h"
#include "tests/temp_folder.h"

namespace quimbel {
namespace {

using namespace std::chrono_literals;
using testing::Behaviour;

// Whether `text` holds `part`, or lacks it; both are shown when not.
::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  return ::testing::IsSubstring("part", "text", part, text);
}
::testing::AssertionResult Lacks(const std::string& text, const std::string& part) {
  return ::testing::IsNotSubstring("part", "text", part, text);
}

class CliTest : public ::testing::Test {
 protected:
  std::string Local(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }
  std::string Link(const std::string& url, const std::string& text) {
    return "<a href=\"" + url + "\">" + text + "</a>\n";
  }
  // Runs quimbel-cli, which is to end with `status`.
  CliResult Run(int status, const std::vector<std::string>& args,
                std::optional<std::chrono::milliseconds> interrupt_after = std::nullopt) {
    CliResult r = cli_.Run(args, interrupt_after);
    EXPECT_EQ(r.status, status) << ::testing::PrintToString(args) << "\n" << r.err;
    return r;
  }
  testing::ScriptedServer server_;
  testing::TempFolder site_;
  Cli cli_;
};

// Listing on stdout, log on stderr, exit status, User-Agent, and preferences read, not written.
TEST_F(CliTest, ExitStatusListingLogAndUserAgent) {
  server_.On("/ok/", "HTTP/1.0 200 OK\r\n\r\n");
  const std::string clean = site_.Write("clean.htm", Link(Local("/ok/"), "Fine"));
  const std::string broken = site_.Write("broken.htm", Link(Local("/gone.htm"), "Gone"));
  CliResult r = Run(0, {clean});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Start of test <date>\n\nTesting: " + clean + "\nResults for " + clean +
                       ": URLs tested: 1. URL errors: 0.\n\nEnd of test: <date>\n");
  r = Run(1, {"-q", "--user-agent", "Mozilla/5.0 (X11; Linux x86_64)", broken});
  EXPECT_EQ(r.out, broken + "\n   " + Local("/gone.htm") +
                       "\n      HTTP Code 404 Not Found\n      Gone\n");
  EXPECT_EQ(r.err, "");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(
      Has(requests[0], "\r\nUser-Agent: Quimbel/3.3 (+http://www.marrowfen.example/quimbel/)\r\n"));
  EXPECT_TRUE(Has(requests[1], "\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64)\r\n"));
  const std::string conf = cli_.config.Write(
      "Marrowfen/Quimbel.conf", "[Settings]\nFilter=" + std::string(43, '1') + "\nTimeout=7\n");
  const std::string before = testing::ReadFile(conf);
  EXPECT_TRUE(Has(Run(1, {"-q", clean}).out, "HTTP Code 200 OK"));  // reported with that filter
  Run(0, {"-q", "--hawk", clean});
  EXPECT_EQ(testing::ReadFile(conf), before);
  cli_.config.Write("Marrowfen/Quimbel.conf", "[Settings]\nFilter=0101\n");
  EXPECT_EQ(cli_.Run({"-q", clean}).err, "quimbel: Setting Filter Codes to Safe Default\n");
  EXPECT_EQ(testing::ReadFile(conf), "[Settings]\nFilter=0101\n");
}

// Bad options (then the usage), rules, formats and configs (one line): exit 2, nothing probed.
TEST_F(CliTest, CannotRunAndTheHelpNamesEveryFormat) {
  const std::string page = site_.Write("cfg/page.html", Link(Local("/x"), "X"));
  const std::string pem = (site_.path() / "none.pem").string();
  const std::string bad_toml = site_.Write("bad.toml", "timeout = \n");
  const std::string unknown_toml = site_.Write("unknown.toml", "colour = \"red\"\n");
  const std::string typed_toml = site_.Write("typed.toml", "exclude = 3\n");
  const std::string folder = (site_.path() / "folder.toml").string();
  std::filesystem::create_directories(folder);
  // The arguments and how the error after "quimbel: " starts.
  using Cases = std::vector<std::pair<std::vector<std::string>, std::string>>;
  const Cases with_usage = {
      {{"--timeout", "3", page}, "the timeout must be a number of seconds from 5 to 1000\n"},
      {{"--filter", "01", page},
       "the filter must be 72 (or 43, 65, 66, 68, 70 or 71) characters of 0 and 1\n"},
      {{"-j", "0", page}, "the parallel probes must be 1 to 256\n"},
      {{"--per-host", "x", page}, "the probes per host must be 1 to 256\n"},
      {{"--root", page, page}, "the site root is no folder: " + page + "\n"},
      {{"--ca-file", pem, page}, "cannot read the CA file " + pem + ": No such file"},
      {{"--bogus", page}, "unknown option --bogus\n"},
      {{"--user-agent", "Evil\r\nX-Injected: 1", page},
       "the user agent must be text without control characters\n"},
      {{}, "name exactly one PATH\n"},
      {{"--watch", "--format", "json", page}, "--watch lists the rows of each page"},
      {{"--watch", "--purge", page}, "--watch needs a test run, not --purge\n"},
      {{"--watch", "http://127.0.0.1:9/"}, "--watch follows files, not a live site\n"},
  };
  const Cases one_line = {
      {{(site_.path() / "none.htm").string()}, "The specified file does not exist\n"},
      {{"--exclude", "(unclosed", page}, "the pattern \"(unclosed\" is no regular expression"},
      {{"--accept", "abc", page}, "the code list \"abc\" must be codes"},
      {{"--format", "yaml", page}, "unknown format \"yaml\": " + ReportFormatChoices() + "\n"},
      {{"--output", "json", page}, "--output takes FORMAT=FILE"},
      {{"--output", "yaml=x", page}, "--output takes FORMAT=FILE"},
      {{"--config", bad_toml, page}, bad_toml + ":1: "},
      {{"--config", unknown_toml, page}, unknown_toml + ":1: \"colour\" is no option"},
      {{"--config", typed_toml, page}, typed_toml + ":1: exclude must be a string"},
      {{"--config", folder, page}, folder + ": cannot be read"},
      {{"--config", (site_.path() / "none.toml").string(), page}, ""},
  };
  for (const Cases* cases : {&with_usage, &one_line})
    for (const auto& [args, error] : *cases) {
      const CliResult r = Run(2, args);
      EXPECT_EQ(r.err.substr(0, error.size() + 9), "quimbel: " + error);
      EXPECT_EQ(std::ranges::count(r.err, '\n') == 1, cases == &one_line) << r.err;
      EXPECT_EQ(r.out, "") << ::testing::PrintToString(args);
    }
  EXPECT_TRUE(server_.Requests().empty());
  const CliResult help = Run(0, {"--help"});  // the help names each format once, each taken
  const std::size_t format_help = help.out.find("--format FORMAT");
  ASSERT_NE(format_help, std::string::npos);
  const std::string after =
      help.out.substr(format_help, help.out.find("--output", format_help) - format_help);
  EXPECT_TRUE(Lacks(after, std::string(quimbel::kFormatsMarker)));
  for (const quimbel::ReportFormatRow& format : quimbel::ReportFormats()) {
    EXPECT_TRUE(Has(after, std::string(format.name))) << format.name;
    Run(1, {"-q", "--format", std::string(format.name), page});
  }
}

// The reports, the purge and Ctrl+C reach the engine; what was not written is exit 2.
TEST_F(CliTest, ReportsPurgeAndInterrupt) {
  const std::string page = site_.Write("p.htm", Link(Local("/gone.htm"), "Gone") + "<!-- c -->\n");
  const auto text = site_.path() / "out.txt", html = site_.path() / "out.html";
  const CliResult r = Run(1, {"-q", "--text", text.string(), "--html", html.string(), page});
  EXPECT_EQ(testing::ReadFile(text), r.out);
  EXPECT_TRUE(Has(testing::ReadFile(html),
                  "<li><a href=\"" + Local("/gone.htm") + "\">Gone</a> HTTP Code 404"));
  cli_.stdout_to = "/dev/full";
  Run(2, {"-q", page});
  cli_.stdout_to.clear();
  Run(0, {"-q", "--purge", page});
  EXPECT_EQ(testing::ReadFile(page), Link(Local("/gone.htm"), "Gone") + "\n");
  // A purge that cannot replace a file says why and fails.
  const std::string read_only = site_.Write("ro.htm", "a<!-- b -->\n");
  ::chmod(read_only.c_str(), 0444);
  EXPECT_TRUE(Has(Run(2, {"--purge", read_only}).err,
                  "Error: Cannot replace " + read_only + ": the file is read-only\n"));
  EXPECT_EQ(testing::ReadFile(read_only), "a<!-- b -->\n");
  server_.On("/silent/", {Behaviour::kSilence, ""});
  const std::string slow = site_.Write("slow.htm", Link(Local("/silent/"), "Slow"));
  EXPECT_TRUE(Has(Run(130, {"--timeout", "60", slow}, 700ms).err, "Testing Stopped by User\n"));
}

// --repair replaces a link as written (single quotes, a reference in it); --yes answers.
TEST_F(CliTest, RepairAfterTheRun) {
  server_.On("/old?a=1&b=2", "HTTP/1.0 301 Moved\r\nLocation: /new\r\n\r\n");
  server_.On("/quoted", "HTTP/1.0 301 Moved\r\nLocation: new2\r\n\r\n");
  server_.On("/new", "HTTP/1.0 200 OK\r\n\r\n");
  server_.On("/new2", "HTTP/1.0 200 OK\r\n\r\n");
  server_.On("/odd/", "HTTP/1.0 399 Odd\r\n\r\n");
  const std::string before = "<a href=\"" + Local("/old?a=1&amp;b=2") +
                             "\">Old</a>\n<a title=x href='" + Local("/quoted") + "'>Q</a>\n";
  const std::string page = site_.Write("p.html", before);
  CliResult r = Run(1, {"-q", "--yes", "--repair", "replace", page});
  EXPECT_EQ(testing::ReadFile(page),
            "<a href=\"" + Local("/new") + "\">Old</a><!-- QUIMBEL COMMENT " +
                Local("/old?a=1&amp;b=2") + "-->\n<a title=x href='" + Local("/new2") +
                "'>Q</a><!-- QUIMBEL COMMENT " + Local("/quoted") + "-->\n");
  EXPECT_EQ(testing::ReadFile(site_.path() / "p.rep"), before);
  EXPECT_TRUE(Has(r.err, "quimbel: All URL repairs completed\n\nRows repaired: 2 in 1 page\n" +
                             ("quimbel: handled " + Local("/old"))));
  // Removing lines exports the rows to the --text file.
  const std::string other = site_.Write("q.htm", Link(Local("/gone"), "Gone") + "end\n");
  const auto listing = site_.path() / "bad.txt";
  r = Run(1, {"-q", "--repair", "remove", "--text", listing.string(), other});
  EXPECT_EQ(testing::ReadFile(other), "end\n");
  EXPECT_EQ(testing::ReadFile(listing), r.out);
  // A run that saw an unknown code asks first; without --yes the answer is No.
  const std::string odd = site_.Write("o.htm", Link(Local("/odd/"), "Odd"));
  EXPECT_TRUE(Has(Run(2, {"-q", "--repair", "remove", odd}).err, "(No: give --yes to answer Yes)"));
  EXPECT_EQ(testing::ReadFile(odd), Link(Local("/odd/"), "Odd"));
  r = Run(2, {"-q", "--yes", "--repair", "remove", odd});  // the rows to save went nowhere
  // Its Reason starts with "Error:", which the stored options leave alone.
  EXPECT_EQ(testing::ReadFile(odd), Link(Local("/odd/"), "Odd"));
  EXPECT_TRUE(Has(r.err, "quimbel: no export file was named"));
}

// Each URL is asked once a run, however it is written or reached; each link gets its own row.
TEST_F(CliTest, EachUrlIsRequestedOnceWhereverItIsMet) {
  const auto moved = [](const std::string& code, const std::string& to) {
    return "HTTP/1.1 " + code + " Moved\r\nLocation: " + to + "\r\n\r\n";
  };
  server_.On("/ok.htm", "HTTP/1.1 200 OK\r\n\r\n");
  server_.On("/a301", moved("301", "/ok.htm"));
  server_.On("/a303", moved("303", "ok.htm"));
  server_.On("/dir", moved("301", "/dir/"));
  server_.On("/dir/", "HTTP/1.1 200 OK\r\n\r\n");
  const std::string upper = "HTTP://127.0.0.1:" + std::to_string(server_.port());
  const std::string page =
      site_.Write("p.html", Link(Local("/a301"), "A") + Link(Local("/ok.htm"), "B") +
                                Link(Local("/a303"), "C") + Link(upper + "/ok.htm#top", "D") +
                                Link(Local("/dir/"), "E") + Link(Local("/dir"), "F") +
                                Link(Local("/a301"), "H"));
  const CliResult r = Run(1, {"-q", "-j", "1", page});
  std::set<std::string> asked;
  for (const std::string& request : server_.Requests())
    EXPECT_TRUE(asked.insert(request.substr(0, request.find('\r'))).second) << "twice: " << request;
  EXPECT_EQ(asked.size(), 5u);
  // The move is listed with where it ended, as often as it stands.
  EXPECT_TRUE(Has(r.out, Local("/a301") + "\n      HTTP Code 301 Moved Permanently\n      H\n" +
                             "      " + Local("/ok.htm")));
}

// A silent name server: "Can't Find Named Host" after the time limit, the others going on
// (bench/dns_bench.sh times it); in namespaces of its own, skipped where not allowed.
TEST_F(CliTest, ASilentNameServerIsAHostNotFound) {
  const std::string down = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  const std::string page =
      site_.Write("p.htm", Link("http://hang.example.com/x.htm", "Hang") + Link(down, "Down"));
  const std::string resolv = site_.Write("resolv.conf", "nameserver 127.0.0.1\n");
  const std::string silent =
      site_.Write("silent.py",
                  "import socket, sys, time\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                  "s.bind(('127.0.0.1', 53))\nopen(sys.argv[1], 'w').close()\ntime.sleep(30)\n");
  const std::string ready = (site_.path() / "ready").string();
  const std::string out = (cli_.io.path() / "dns.out").string();
  const std::string script = "ip link set lo up && mount --bind " + resolv +
                             " /etc/resolv.conf && { python3 " + silent + " " + ready +
                             " & } && for i in $(seq 50); do [ -e " + ready +
                             " ] && break; sleep 0.1; done && [ -e " + ready +
                             " ] && XDG_CONFIG_HOME=" + cli_.config.path().string() + " " +
                             QUIMBEL_CLI_PATH + " -q -t 5 -j 4 " + page + " > " + out + "; kill $!";
  if (std::system("command -v unshare >/dev/null && command -v ip >/dev/null && "
                  "command -v python3 >/dev/null && unshare -rmn true 2>/dev/null") != 0)
    GTEST_SKIP() << "no user namespaces, ip or python3 here";
  const std::string command = "timeout 60 unshare -rmn sh -c '" + script + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0 || testing::ReadFile(out).empty())
    GTEST_SKIP() << "the namespace could not be set up";
  EXPECT_EQ(testing::ReadFile(out),
            page + "\n   http://hang.example.com/x.htm\n      Error: Can't Find Named Host\n" +
                "      Hang\n   " + down + "\n      Error: Can't Connect to Host\n      Down\n");
}

// Local links are checked on disk, rows in file order; --no-resources and --root reach them.
TEST_F(CliTest, LocalLinksInARun) {
  site_.Write("docs/a.html", "<h1 id=\"top-part\">A</h1>");
  const std::string page =
      site_.Write("index.html",
                  "<a href=\"docs/a.html#top-part\">Good</a>\n<a href=\"docs/b.html\">Gone</a>\n" +
                      Link(Local("/gone.htm"), "Remote") +
                      "<img src=\"/img/x.png\" alt=\"Picture\">\n"
                      "<a href=\"docs/a.html#nope\">Anchor</a>\n");
  EXPECT_EQ(Run(1, {"-q", page}).out,
            page + "\n   docs/b.html\n      Local File Not Found\n      Gone\n   " +
                Local("/gone.htm") + "\n      HTTP Code 404 Not Found\n      Remote\n" +
                "   /img/x.png\n      Local File Not Found\n      Picture\n"
                "   docs/a.html#nope\n      Local Anchor Not Found\n      Anchor\n");
  EXPECT_TRUE(Lacks(cli_.Run({"-q", "--no-resources", page}).out, "/img/x.png"));
  site_.Write("root/img/x.png", "");
  const CliResult rooted = cli_.Run({"-q", "--root", (site_.path() / "root").string(), page});
  EXPECT_TRUE(Lacks(rooted.out, "/img/x.png"));
  EXPECT_TRUE(Has(rooted.out, "docs/b.html"));
}

// Every machine-readable format of one run agrees, the JSON with its schema, non-UTF-8 too.
TEST_F(CliTest, MachineReadableFormatsAgree) {
  server_.On("/ok/", "HTTP/1.0 200 OK\r\n\r\n");
  server_.On("/moved/", "HTTP/1.0 301 Moved\r\nLocation: http://127.0.0.1/new, here\r\n\r\n");
  const std::string page = site_.Write(
      "p\xe9ge.html", Link(Local("/ok/"), "Fine") + Link(Local("/gone\xff"), "Caf\xe9, \"menu\"") +
                          Link(Local("/moved/"), "Title: with, commas\r\nand % signs") +
                          "<a href=\"missing.html#x\">Local</a>\n" +
                          Link(Local("/esc\x1b[2J"), "Red \x1b[31m\x7f text"));
  const std::string dir = cli_.io.path().string();
  const CliResult r =
      Run(1, {"-q", "--max-redirects", "0", "--format", "json", "--output",
              "junit=" + dir + "/r.xml", "--output", "github=" + dir + "/r.gh", "--output",
              "csv=" + dir + "/r.csv", "--output", "markdown=" + dir + "/r.md", page});
  const std::string json = dir + "/r.json";
  std::ofstream(json, std::ios::binary) << r.out;
  const std::string source = QUIMBEL_SOURCE_DIR;
  const std::string check = "python3 " + source + "/tests/check_reports.py " + source +
                            "/docs/quimbel-report.schema.json " + json + " " + dir + "/r.xml " +
                            dir + "/r.gh " + dir + "/r.csv " + dir + "/r.md";
  EXPECT_EQ(std::system(check.c_str()), 0) << check;
  EXPECT_TRUE(Has(r.out, "\"url_hex\": \"" /* the 0xff of /gone */));
  EXPECT_TRUE(Has(testing::ReadFile(dir + "/r.gh"),
                  ",title=HTTP Code 301 Moved Permanently::" + Local("/moved/")));
  EXPECT_TRUE(Has(testing::ReadFile(dir + "/r.md"),
                  "| 5 | missing.html\\#x | Local File Not Found | Local |"));
}

// --exclude, --include, --accept and quimbel.toml (found upward), the command line overriding.
TEST_F(CliTest, LinkRulesAndTheProjectConfig) {
  server_.On("/busy/", "HTTP/1.0 429 Slow down\r\n\r\n");
  const std::string page =
      site_.Write("sub/page.html", Link(Local("/skip/a"), "A") + Link(Local("/skip/keep"), "B") +
                                       Link(Local("/also/b"), "C") + Link(Local("/busy/"), "D") +
                                       Link(Local("/gone"), "E"));
  const std::string config =
      site_.Write("quimbel.toml",
                  "# the project's link rules\nexclude = [\"/skip/\", \"/also/\"]\n"
                  "include = \"keep$\"\nformat = \"csv\"\ntimeout = 7\n");
  const std::string other = site_.Write("other.toml", "format = \"github\"\n");
  const std::string all = "/skip/a /skip/keep /also/b /busy/ /gone ", head = "file,line,url";
  const std::string exact = "^http://127\\.0\\.0\\.1:[0-9]+/gone$";
  // The options, the rows' paths, links skipped, how standard output starts, the config named.
  const std::tuple<std::vector<std::string>, std::string, int, std::string, std::string> cases[] = {
      {{}, "/skip/keep /busy/ /gone ", 2, head, config},
      {{"--format", "markdown"}, "/skip/keep /busy/ /gone ", 2, "## Quimbel", config},
      {{"--exclude", "/gone"}, "/skip/a /skip/keep /also/b /busy/ ", 1, head, config},
      {{"--include", "a$"}, "/skip/a /busy/ /gone ", 2, head, config},
      {{"--exclude", "/busy/", "--exclude", exact}, "/skip/a /skip/keep /also/b ", 2, head, config},
      {{"--accept", "429"}, "/skip/keep /gone ", 2, head, config},
      {{"--accept", "400-499"}, "", 2, "", config},
      {{"--accept", "404, 429"}, "", 2, "", config},
      {{"--no-config"}, all, 0, page + "\n", ""},
      {{"--config", other}, all, 0, "::error file=", other},
  };
  const std::string csv = (cli_.io.path() / "rows.csv").string();
  for (const auto& [options, paths, skipped, starts, read] : cases) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"--output", "csv=" + csv, page});
    SCOPED_TRACE(::testing::PrintToString(args));
    const CliResult r = Run(paths.empty() ? 0 : 1, args);
    const std::string rows = testing::ReadFile(csv);
    std::string listed;
    const std::regex path(":[0-9]+(/[^,]*)");
    for (std::sregex_iterator it(rows.begin(), rows.end(), path), end; it != end; ++it)
      listed += (*it)[1].str() + " ";
    EXPECT_EQ(listed, paths);
    EXPECT_EQ(r.out.substr(0, starts.size()), starts);
    EXPECT_TRUE(Has(
        r.err, "URL errors: " + std::to_string(std::ranges::count(paths, ' ')) + "." +
                   (skipped > 0 ? " URLs skipped: " + std::to_string(skipped) + "." : "") + "\n"));
    EXPECT_EQ(r.err.find("Options read from " + read) != std::string::npos, !read.empty());
  }
}

// What quimbel-cli writes to standard error when that is a terminal.
std::string StderrOnATerminal(Cli& cli, std::vector<std::string> args) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "no pty";
  cli.stderr_to = ::ptsname(master);
  const pid_t pid = cli.Start(std::move(args));
  cli.stderr_to.clear();
  std::string seen;
  char buffer[4096];  // read while it runs: a full terminal buffer would hold it up
  for (pollfd ready{master, POLLIN, 0}; pid > 0 && ::poll(&ready, 1, 10000) > 0;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the last writer closed the terminal
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  if (pid > 0) cli.Finish(pid);
  ::close(master);
  return seen;
}

TEST_F(CliTest, AProgressLineOnlyOnATerminalAndNeverQuiet) {
  std::string links;
  for (int i = 0; i < 4; ++i) {
    server_.On("/s" + std::to_string(i), {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n", 300ms});
    links += Link(Local("/s" + std::to_string(i)), "Fine");
  }
  const std::string page = site_.Write("slow.html", links);
  const std::string drawn = StderrOnATerminal(cli_, {"-j", "1", page});
  EXPECT_TRUE(Has(drawn, "File 1 of 1  "));
  EXPECT_TRUE(std::regex_search(drawn, std::regex("[0-9]+ links  [0-9]+/s  0:0[0-9] left  http")))
      << drawn;
  EXPECT_TRUE(Has(drawn, "\r\033[K"));
  EXPECT_EQ(StderrOnATerminal(cli_, {"-q", "-j", "1", page}), "");
  EXPECT_TRUE(Lacks(cli_.Run({"-j", "1", page}).err, "\033"));  // not a terminal: the log alone
}

// A PATH works however it is written, run from inside the site, a folder too.
TEST_F(CliTest, EveryFormOfPathWorks) {
  const std::string page = Link(Local("/gone"), "Gone") + "<a href='missing.html'>Local</a>\n";
  for (const char* name : {"page.html", "a b.html", "caf\xe9.html"})
    site_.Write(name, page);
  std::filesystem::create_directories(site_.path() / "sub");
  std::filesystem::create_symlink(site_.path() / "page.html", site_.path() / "sub" / "link.html");
  const std::string folder = site_.path().string();
  const std::pair<std::string, std::string> cases[] = {
      {folder, "page.html"},        {folder, "./page.html"},   {folder + "/sub", "../page.html"},
      {"/", folder + "/page.html"}, {folder, "sub/link.html"}, {folder, "a b.html"},
      {folder, "caf\xe9.html"},
  };
  for (const auto& [cwd, path] : cases) {
    SCOPED_TRACE(path);
    cli_.cwd = cwd;
    const CliResult r = Run(1, {"-q", path});
    EXPECT_TRUE(Has(r.out, Local("/gone")));
    EXPECT_TRUE(Has(r.out, "missing.html"));
  }
  // A folder is checked as -r -x, its pages named without "//"; a bare web address gets a hint.
  site_.Write("tree/a.html", Link("sub/b.html", "B"));
  site_.Write("tree/sub/b.html", Link("../gone.html", "Gone"));
  site_.Write("tree/notes.txt", Link("gone-too.html", "Not a page"));
  const std::string tree = (site_.path() / "tree").string();
  for (const std::string& path : {tree, tree + "/", tree + "//"}) {
    const CliResult r = Run(1, {"--format", "github", path});
    EXPECT_TRUE(Has(r.err, tree + " is a folder: its HTML-like files are checked, in all its "
                                  "sub-folders, as -r -x does"));
    EXPECT_TRUE(Has(r.out, "file=" + tree + "/sub/b.html,line=1"));
    EXPECT_TRUE(Lacks(r.out, "//"));
    EXPECT_TRUE(Lacks(r.out, "gone-too"));
  }
  const CliResult r = Run(1, {"-a", tree});  // -a keeps its meaning: this folder's files only
  EXPECT_TRUE(Lacks(r.err, "is a folder"));
  EXPECT_TRUE(Has(r.out, "gone-too.html"));
  Run(2, {"--purge", tree});  // a purge is never widened
  for (const auto& [path, hint] : {std::pair{"www.example.org/docs", true},
                                   {"example.org", true},
                                   {"nothere.html", false},
                                   {"docs/page.htm", false}}) {
    const std::string err = Run(2, {path}).err;
    EXPECT_TRUE(Has(err, "The specified file does not exist"));
    EXPECT_EQ(err.find("begin it with https://") != std::string::npos, hint) << path;
  }
}

// A report target is checked before the run; a fifo as target or cache never hangs it; a
// damaged cache is said even with -q.
TEST_F(CliTest, AReportTargetIsCheckedBeforeTheRunAndAFifoNeverHangs) {
  std::string page;
  for (int i = 0; i < 400; ++i)  // rows enough to fill a pipe's buffer
    page += "<a href=\"missing" + std::to_string(i) + ".html\">x</a>\n";
  const std::string path = site_.Write("p.html", page);
  const std::string fifo = (cli_.io.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = site_.path().string(), unread = fifo + ": no program is reading it";
  // The options and what is said of them, "" when the run goes on.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--output", "json=" + fifo, path}, unread},
      {{"--text", fifo, path}, unread},
      {{"--html", fifo, path}, unread},
      {{"--output", "junit=" + path, path},
       "cannot write " + path + ": it is the page being checked"},
      {{"--html", folder + "/./p.html", path}, "it is the page being checked"},
      {{"--text", folder + "/sub/../report.htm", folder},
       "cannot write " + folder + "/sub/../report.htm: its folder does not exist"},
      {{"--html", folder + "/report.html", folder}, "it would be one of the pages checked"},
      {{"--output", "json=" + folder + "/none/r.json", path}, "its folder does not exist"},
      {{"--text", folder + "/report.txt", folder}, ""},
  };
  for (const auto& [args, said] : cases) {
    const CliResult r = Run(said.empty() ? 1 : 2, args);
    if (said.empty()) continue;
    EXPECT_TRUE(Has(r.err, said));
    // A fifo's reader may come while the run goes on, so that is seen at the end.
    EXPECT_TRUE(said == unread || Lacks(r.err, "Start of test"));
  }
  EXPECT_EQ(testing::ReadFile(path), page);
  // A reader that takes nothing: the report fills the pipe, then Ctrl+C.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Run(130, {"--output", "json=" + fifo, path}, 3s);
  ::close(reader);
  EXPECT_TRUE(Has(Run(1, {"-q", "--cache", fifo, path}).err,
                  "quimbel: The link cache " + fifo + " is not used: "));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  const std::string damaged = site_.Write("cache.json", "{not json");
  EXPECT_TRUE(Has(Run(1, {"-q", "--cache", damaged, path}).err,
                  "quimbel: The link cache " + damaged + " cannot be read; it is ignored"));
}

// How often `part` stands in `text`.
int Count(const std::string& text, const std::string& part) {
  int seen = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++seen;
  return seen;
}

// Waits, within a generous limit (20 s), for `text` to stand in the file more than `after` times.
bool WaitForText(const std::string& path, const std::string& text, int after = 0) {
  for (int tries = 0; tries < 1000; ++tries, std::this_thread::sleep_for(20ms))
    if (Count(testing::ReadFile(path), text) > after) return true;
  return false;
}

// Ctrl+C stops a run of local links at once, though no reply is ever waited for.
TEST_F(CliTest, CtrlCStopsAWholeFolderOfLocalLinks) {
  constexpr int kPages = 3000;
  for (int i = 0; i < kPages; ++i) {
    std::string page;
    for (int k = 0; k < 100; ++k)
      page += Link("p" + std::to_string((i * 7 + k) % kPages) + ".html", "next");
    site_.Write("p" + std::to_string(i) + ".html", page);
  }
  const pid_t pid = cli_.Start({"-r", site_.path().string()});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForText(cli_.ErrPath(), "Testing: "));
  ::kill(pid, SIGINT);
  const CliResult r = cli_.Finish(pid);
  EXPECT_EQ(r.status, 130);
  EXPECT_TRUE(Has(r.err, "Testing Stopped by User"));
  EXPECT_LT(Count(r.err, "Results for "), kPages / 2);  // it stopped where it was
}

// An unreadable page is named and the run goes on, ending 2; as an ordinary user, in a child.
// Such a run is no whole run: the next one is compared with the last whole one.
TEST(CliUnreadablePage, IsSaidAndTheRunGoesOn) {
  testing::TempFolder site;
  ::chmod(site.path().c_str(), 0755);
  site.Write("a.html", "<a href=\"b.html\">b</a>\n");
  const std::string b = site.Write("b.html", "<a href=\"a.html\">a</a><a href=gone-b.html>\n");
  const std::string c = site.Write("c.html", "<a href=\"gone.html\">gone</a>\n");
  Cli cli;
  ::chmod(cli.config.path().c_str(), 0777);  // the history's store, for the ordinary user
  if (::geteuid() == 0)
    cli.through = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  const CliResult whole = cli.Run({"-q", "-r", site.path().string()});
  if (whole.status != 1 && whole.err.starts_with("setpriv")) {
    GTEST_SKIP() << "no ordinary user: " << whole.err;
  }
  ::chmod(b.c_str(), 0);
  const CliResult r = cli.Run({"-q", "-r", site.path().string()});
  const std::string said = r.out + r.err;
  EXPECT_EQ(r.status, 2) << said;
  EXPECT_TRUE(Has(said, "quimbel: Not checked: " + b + ": Permission denied"));
  EXPECT_TRUE(Has(said, c + "\n   gone.html\n      Local File Not Found"));
  EXPECT_TRUE(Lacks(said, "Processing has stopped"));
  ::chmod(b.c_str(), 0644);
  EXPECT_EQ(cli.Run({"-q", "--since-last", "-r", site.path().string()}).err,
            "quimbel: since the last run: 0 new, 0 fixed\n");
}

// Under a low limit on open files, the links in flight are lowered; every good link stays good.
TEST_F(CliTest, FewOpenFilesLowerTheLinksInFlight) {
  std::string page;
  for (int i = 0; i < 300; ++i) {
    server_.On("/ok?" + std::to_string(i), "HTTP/1.0 200 OK\r\n\r\n");
    page += Link(Local("/ok?" + std::to_string(i)), "Fine");
  }
  cli_.through = {"/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" \"$@\""};
  EXPECT_TRUE(Has(Run(0, {"-j", "256", "--per-host", "256", site_.Write("p.html", page)}).err,
                  "Links in flight lowered to 5: the limit on open files is 64"));
}

// --watch lists each page saved again; a signal ends it with the status of the rows then.
TEST_F(CliTest, WatchListsEachSavedPageAgainUntilStopped) {
  server_.On("/gone", "HTTP/1.0 404 Not Found\r\n\r\n");
  // The signal, a.html's last text, the status.
  const std::tuple<int, std::string, int> cases[] = {
      {SIGINT, Link("b.html#x", "b") + Link(Local("/gone"), "g"), 1},
      {SIGTERM, Link("b.html#x", "b"), 0},
  };
  for (const auto& [signal, last_save, status] : cases) {
    SCOPED_TRACE(signal);
    const std::string a = site_.Write("a.html", Link("b.html#x", "b") + Link(Local("/gone"), "g"));
    site_.Write("b.html", "<p id=x>\n");
    const std::size_t requests = server_.Requests().size();
    const pid_t pid = cli_.Start({"--watch", "-a", "-x", site_.path().string()});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForText(cli_.ErrPath(), "Watching the pages for changes"));
    // Saved by rename, as many editors do.
    site_.Write("a.html.tmp",
                Link("b.html#x", "b") + Link("nope.html", "n") + Link(Local("/gone"), "g"));
    std::filesystem::rename(a + ".tmp", a);
    ASSERT_TRUE(WaitForText(cli_.OutPath(), "nope.html"));
    EXPECT_TRUE(
        WaitForText(cli_.ErrPath(), "Checked again: " + a + ": URLs tested: 3. URL errors: 2."));
    site_.Write("a.html", last_save);
    ASSERT_TRUE(WaitForText(cli_.ErrPath(), "Checked again: " + a, 1));
    ::kill(pid, signal);
    const CliResult r = cli_.Finish(pid);
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.out.substr(0, a.size()), a) << "the run's listing comes first";
    EXPECT_EQ(server_.Requests().size(), requests + 1);  // the run's outcome: asked once
  }
}

}  // namespace
// The time left shows only after enough pages: 20, or a twentieth of a short run.
TEST(ProgressLineTest, TheTimeLeftWaitsForEnoughPages) {
  // Pages read, of how many, and the time left shown ("" for none).
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"1", "10000", ""},         {"19", "10000", ""}, {"20", "10000", "  174:40 left"},
      {"1", "20", "  0:39 left"}, {"1", "21", ""},
  };
  for (const auto& [file_number, file_total, left] : cases) {
    SCOPED_TRACE(std::string(file_number) + " of " + file_total);
    ProgressTexts texts;
    texts.file_number = file_number;
    texts.file_total = file_total;
    texts.url_number = texts.url_total = "1";
    texts.current_url = "u";
    ProgressCounts counts;
    counts.links_done = std::stoul(file_number);
    counts.elapsed = std::chrono::seconds(std::stoul(file_number));
    const std::string line = ProgressLine(texts, counts, false, 200);
    std::smatch shown;
    std::regex_search(line, shown, std::regex("\\s*\\S* left"));
    EXPECT_EQ(shown.str(), left) << line;
  }
}

}  // namespace quimbel
