// quimbel-cli as a script runs it: its options, exit statuses, outputs and
// the wiring to the engine. What the engine does is the unit suites' part;
// here each flow gets one short case.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
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

class CliTest : public ::testing::Test {
 protected:
  std::string Local(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(server_.port()) + path;
  }
  std::string Link(const std::string& url, const std::string& text) {
    return "<a href=\"" + url + "\">" + text + "</a>\n";
  }
  testing::ScriptedServer server_;
  testing::TempFolder site_;
  Cli cli_;
};

// The listing on standard output, the log on standard error, the exit
// status, and the User-Agent the probes send.
TEST_F(CliTest, ExitStatusListingLogAndUserAgent) {
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  const std::string clean = site_.Write("clean.htm", Link(Local("/ok/"), "Fine"));
  const std::string broken = site_.Write("broken.htm", Link(Local("/gone.htm"), "Gone"));

  CliResult r = cli_.Run({clean});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Start of test <date>\n\nTesting: " + clean + "\nResults for " + clean +
                       ": URLs tested: 1. URL errors: 0.\n\nEnd of test: <date>\n");

  r = cli_.Run({"-q", "--user-agent", "Mozilla/5.0 (X11; Linux x86_64)", broken});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, broken + "\n   " + Local("/gone.htm") +
                       "\n      HTTP Code 404 Not Found\n      Gone\n");
  EXPECT_EQ(r.err, "");
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(
      requests[0].find("\r\nUser-Agent: Quimbel/3.3 (+http://www.marrowfen.example/quimbel/)\r\n"),
      std::string::npos);
  EXPECT_NE(requests[1].find("\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64)\r\n"),
            std::string::npos);
}

// The formats are listed once: the help names each, each name is taken,
// and the error for another name offers exactly them.
TEST_F(CliTest, TheHelpAndTheErrorsNameEveryReportFormat) {
  const std::string page = site_.Write("page.htm", "<p>no links</p>");
  const CliResult help = cli_.Run({"--help"});
  ASSERT_EQ(help.status, 0);
  const std::size_t format_help = help.out.find("--format FORMAT");
  ASSERT_NE(format_help, std::string::npos);
  const std::string after =
      help.out.substr(format_help, help.out.find("--output", format_help) - format_help);
  EXPECT_EQ(after.find(quimbel::kFormatsMarker), std::string::npos);
  for (const quimbel::ReportFormatRow& format : quimbel::ReportFormats()) {
    EXPECT_NE(after.find(std::string(format.name)), std::string::npos) << format.name;
    const CliResult run = cli_.Run({"-q", "--format", std::string(format.name), page});
    EXPECT_EQ(run.status, 0) << format.name << ": " << run.err;
  }
  const CliResult unknown = cli_.Run({"--format", "yaml", page});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err,
            "quimbel: unknown format \"yaml\": " + quimbel::ReportFormatChoices() + "\n");
}

TEST_F(CliTest, CannotRun) {
  const std::string file = site_.Write("a.txt", "x");
  const std::string pem = (site_.path() / "none.pem").string();
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{(site_.path() / "none.htm").string()}, "quimbel: The specified file does not exist\n"},
      {{"--timeout", "3", file},
       "quimbel: the timeout must be a number of seconds from 5 to 1000\n"},
      {{"--filter", "01", file},
       "quimbel: the filter must be 71 (or 43, 65, 66, 68 or 70) characters of 0 and 1\n"},
      {{"-j", "0", file}, "quimbel: the parallel probes must be 1 to 256\n"},
      {{"--per-host", "x", file}, "quimbel: the probes per host must be 1 to 256\n"},
      {{"--root", file, file}, "quimbel: the site root is no folder: " + file + "\n"},
      {{"--ca-file", pem, file}, "quimbel: cannot read the CA file " + pem + ": No such file"},
      {{"--bogus", file}, "quimbel: unknown option --bogus\n"},
      {{"--user-agent", "Evil\r\nX-Injected: 1", file},
       "quimbel: the user agent must be text without control characters\n"},
      {{}, "quimbel: name exactly one PATH\n"},
      {{"--watch", "--format", "json", file}, "quimbel: --watch lists the rows of each page"},
      {{"--watch", "--purge", file}, "quimbel: --watch needs a test run, not --purge\n"},
      {{"--watch", "http://127.0.0.1:9/"}, "quimbel: --watch follows files, not a live site\n"},
  };
  for (const auto& [args, error] : cases) {
    SCOPED_TRACE(args.empty() ? "" : args.back());
    const CliResult r = cli_.Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, error.size()), error);
  }
}

TEST_F(CliTest, StoredPreferencesAreReadNeverWritten) {
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  const std::string page = site_.Write("p.htm", Link(Local("/ok/"), "Fine"));
  const auto conf = cli_.config.path() / "Marrowfen" / "Quimbel.conf";
  std::filesystem::create_directories(conf.parent_path());
  std::ofstream(conf) << "[Settings]\nFilter=" << std::string(43, '1') << "\nTimeout=7\n";
  const std::string before = testing::ReadFile(conf);
  CliResult r = cli_.Run({"-q", page});
  EXPECT_EQ(r.status, 1);  // 200 is reported with that filter
  EXPECT_NE(r.out.find("HTTP Code 200 OK"), std::string::npos);
  r = cli_.Run({"-q", "--hawk", page});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testing::ReadFile(conf), before);

  std::ofstream(conf) << "[Settings]\nFilter=0101\n";
  r = cli_.Run({"-q", page});
  EXPECT_EQ(r.err, "quimbel: Setting Filter Codes to Safe Default\n");
  EXPECT_EQ(testing::ReadFile(conf), "[Settings]\nFilter=0101\n");
}

// The reports, the purge and Ctrl+C reach the engine.
TEST_F(CliTest, ReportsPurgeAndInterrupt) {
  const std::string page = site_.Write("p.htm", Link(Local("/gone.htm"), "Gone") + "<!-- c -->\n");
  const auto text = site_.path() / "out.txt";
  const auto html = site_.path() / "out.html";
  CliResult r = cli_.Run({"-q", "--text", text.string(), "--html", html.string(), page});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(testing::ReadFile(text), r.out);
  EXPECT_NE(testing::ReadFile(html).find("<li><a href=\"" + Local("/gone.htm") +
                                         "\">Gone</a> HTTP Code 404"),
            std::string::npos);

  r = cli_.Run({"-q", "--purge", page});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testing::ReadFile(page), Link(Local("/gone.htm"), "Gone") + "\n");

  server_.On("/silent/", {Behaviour::kSilence, ""});
  const std::string slow = site_.Write("slow.htm", Link(Local("/silent/"), "Slow"));
  r = cli_.Run({"--timeout", "60", slow}, 700ms);
  EXPECT_EQ(r.status, 130);
  EXPECT_NE(r.err.find("Testing Stopped by User\n"), std::string::npos);
}

// --repair acts on the rows of the run, replacing a link as written (in
// single quotes, with a reference in it); --yes answers the questions.
TEST_F(CliTest, RepairAfterTheRun) {
  server_.On("/old?a=1&b=2", {Behaviour::kReply, "HTTP/1.0 301 Moved\r\nLocation: /new\r\n\r\n"});
  server_.On("/quoted", {Behaviour::kReply, "HTTP/1.0 301 Moved\r\nLocation: new2\r\n\r\n"});
  server_.On("/new", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  server_.On("/new2", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  server_.On("/odd/", {Behaviour::kReply, "HTTP/1.0 399 Odd\r\n\r\n"});
  const std::string before = "<a href=\"" + Local("/old?a=1&amp;b=2") +
                             "\">Old</a>\n<a title=x href='" + Local("/quoted") + "'>Q</a>\n";
  const std::string page = site_.Write("p.html", before);
  CliResult r = cli_.Run({"-q", "--yes", "--repair", "replace", page});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(testing::ReadFile(page),
            "<a href=\"" + Local("/new") + "\">Old</a><!-- QUIMBEL COMMENT " +
                Local("/old?a=1&amp;b=2") + "-->\n<a title=x href='" + Local("/new2") +
                "'>Q</a><!-- QUIMBEL COMMENT " + Local("/quoted") + "-->\n");
  EXPECT_EQ(testing::ReadFile(site_.path() / "p.rep"), before);
  EXPECT_NE(r.err.find("quimbel: All URL repairs completed\n\nRows repaired: 2 in 1 page\n"
                       "quimbel: handled " +
                       Local("/old")),
            std::string::npos)
      << r.err;

  // Removing lines exports the rows to the --text file.
  const std::string other = site_.Write("q.htm", Link(Local("/gone"), "Gone") + "end\n");
  const auto listing = site_.path() / "bad.txt";
  r = cli_.Run({"-q", "--repair", "remove", "--text", listing.string(), other});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(testing::ReadFile(other), "end\n");
  EXPECT_EQ(testing::ReadFile(listing), r.out);

  // A run that saw an unknown code asks first; without --yes the answer is No.
  const std::string odd = site_.Write("o.htm", Link(Local("/odd/"), "Odd"));
  r = cli_.Run({"-q", "--repair", "remove", odd});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(testing::ReadFile(odd), Link(Local("/odd/"), "Odd"));
  EXPECT_NE(r.err.find("(No: give --yes to answer Yes)"), std::string::npos);
  r = cli_.Run({"-q", "--yes", "--repair", "remove", odd});
  EXPECT_EQ(r.status, 2);  // the rows it was to save went nowhere
  // Its Reason starts with "Error:", which the stored options leave alone.
  EXPECT_EQ(testing::ReadFile(odd), Link(Local("/odd/"), "Odd"));
  EXPECT_NE(r.err.find("quimbel: no export file was named"), std::string::npos);
}

// Each URL is asked for once a run: a link to it, moves that end there
// and links written another way all take the one reply, one link at a
// time too; every link gets the row it would get alone.
TEST_F(CliTest, EachUrlIsRequestedOnceWhereverItIsMet) {
  const auto moved = [](const std::string& code, const std::string& to) {
    return testing::Script{Behaviour::kReply,
                           "HTTP/1.1 " + code + " Moved\r\nLocation: " + to + "\r\n\r\n"};
  };
  server_.On("/ok.htm", {Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  server_.On("/a301", moved("301", "/ok.htm"));
  server_.On("/a303", moved("303", "ok.htm"));
  server_.On("/dir", moved("301", "/dir/"));
  server_.On("/dir/", {Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  // A hash-routed page: the fragment's "/" is no part of the path.
  server_.On("/m", moved("301", "dest/1"));
  server_.On("/dest/1", {Behaviour::kReply, "HTTP/1.1 200 OK\r\n\r\n"});
  const std::string upper = "HTTP://127.0.0.1:" + std::to_string(server_.port());
  const std::string page =
      site_.Write("p.html", Link(Local("/a301"), "A") + Link(Local("/ok.htm"), "B") +
                                Link(Local("/a303"), "C") + Link(upper + "/ok.htm#top", "D") +
                                Link(Local("/dir/"), "E") + Link(Local("/dir"), "F") +
                                Link(Local("/m#x/y"), "G") + Link(Local("/a301"), "H"));
  const CliResult r = cli_.Run({"-q", "-j", "1", page});
  EXPECT_EQ(r.status, 1) << r.err;
  std::map<std::string, int> times;
  for (const std::string& request : server_.Requests())
    ++times[request.substr(0, request.find('\r'))];
  for (const auto& [line, count] : times)
    EXPECT_EQ(count, 1) << line;
  EXPECT_EQ(times.size(), 7u);
  // The moves are listed with where they ended, the first as often as it
  // stands; the hash-routed one ends well, not in a loop.
  EXPECT_NE(r.out.find(Local("/a301") + "\n      HTTP Code 301 Moved Permanently\n      H\n      " +
                       Local("/ok.htm")),
            std::string::npos)
      << r.out;
  EXPECT_NE(
      r.out.find(Local("/m#x/y") + "\n      HTTP Code 301 Moved Permanently\n      G\n      " +
                 Local("/dest/1")),
      std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Redirect Loop"), std::string::npos) << r.out;
}

// A name server that never answers costs its link the time limit and is
// "Can't Find Named Host"; the other links go on meanwhile (bench/dns_bench.sh
// times it). Run in a user, mount and network namespace of its own, where a
// silent UDP socket on 127.0.0.1:53 is the name server; skipped where such
// namespaces are not allowed.
TEST_F(CliTest, ASilentNameServerIsAHostNotFound) {
  const std::string down = "http://127.0.0.1:" + std::to_string(testing::RefusedPort()) + "/";
  const std::string page =
      site_.Write("p.htm", Link("http://hang.example.com/x.htm", "Hang") + Link(down, "Down"));
  const std::string resolv = site_.Write("resolv.conf", "nameserver 127.0.0.1\n");
  const std::string silent = site_.Write("silent.py",
                                         "import socket, sys, time\n"
                                         "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                                         "s.bind(('127.0.0.1', 53))\n"
                                         "open(sys.argv[1], 'w').close()\n"
                                         "time.sleep(30)\n");
  const std::string ready = (site_.path() / "ready").string();
  const std::string out = (cli_.io.path() / "dns.out").string();
  const std::string script = "ip link set lo up && mount --bind " + resolv +
                             " /etc/resolv.conf && { python3 " + silent + " " + ready +
                             " & } && for i in $(seq 50); do [ -e " + ready +
                             " ] && break; sleep 0.1; done && [ -e " + ready +
                             " ] && XDG_CONFIG_HOME=" + cli_.config.path().string() + " " +
                             QUIMBEL_CLI_PATH + " -q -t 5 -j 4 " + page + " > " + out + "; kill $!";
  if (std::system("command -v unshare >/dev/null && command -v ip >/dev/null && "
                  "command -v python3 >/dev/null && unshare -rmn true 2>/dev/null") != 0) {
    GTEST_SKIP() << "no user namespaces, ip or python3 here";
  }
  const std::string command = "timeout 60 unshare -rmn sh -c '" + script + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0 || testing::ReadFile(out).empty()) {
    GTEST_SKIP() << "the namespace could not be set up";
  }
  EXPECT_EQ(testing::ReadFile(out),
            page +
                "\n   http://hang.example.com/x.htm\n      Error: Can't Find Named Host\n"
                "      Hang\n   " +
                down + "\n      Error: Can't Connect to Host\n      Down\n");
}

// Local links are checked on disk in a run of their own pages, their rows
// among the others in file order; --no-resources and --root reach them.
TEST_F(CliTest, LocalLinksInARun) {
  site_.Write("docs/a.html", "<h1 id=\"top-part\">A</h1>");
  const std::string page =
      site_.Write("index.html",
                  "<a href=\"docs/a.html#top-part\">Good</a>\n<a href=\"docs/b.html\">Gone</a>\n" +
                      Link(Local("/gone.htm"), "Remote") +
                      "<img src=\"/img/x.png\" alt=\"Picture\">\n"
                      "<a href=\"docs/a.html#nope\">Anchor</a>\n");
  const CliResult r = cli_.Run({"-q", page});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, page + "\n   docs/b.html\n      Local File Not Found\n      Gone\n   " +
                       Local("/gone.htm") +
                       "\n      HTTP Code 404 Not Found\n      Remote\n"
                       "   /img/x.png\n      Local File Not Found\n      Picture\n"
                       "   docs/a.html#nope\n      Local Anchor Not Found\n      Anchor\n");
  const CliResult other = cli_.Run({"-q", "--no-resources", page});
  EXPECT_EQ(other.out.find("/img/x.png"), std::string::npos);
  site_.Write("root/img/x.png", "");
  const CliResult rooted = cli_.Run({"-q", "--root", (site_.path() / "root").string(), page});
  EXPECT_EQ(rooted.out.find("/img/x.png"), std::string::npos);
  EXPECT_NE(rooted.out.find("docs/b.html"), std::string::npos);
}

TEST_F(CliTest, WhatWasNotWrittenIsExitTwo) {
  const std::string page = site_.Write("p.htm", Link(Local("/gone.htm"), "Gone"));
  // A report whose folder is missing is refused before the run.
  CliResult r = cli_.Run({"-q", "--text", (site_.path() / "no/such/r.txt").string(), page});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("its folder does not exist"), std::string::npos);

  cli_.stdout_to = "/dev/full";
  r = cli_.Run({"-q", page});
  EXPECT_EQ(r.status, 2);
  cli_.stdout_to.clear();

  // A purge that cannot replace a file says why and fails.
  const std::string read_only = site_.Write("ro.htm", "a<!-- b -->\n");
  ::chmod(read_only.c_str(), 0444);
  r = cli_.Run({"--purge", read_only});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Error: Cannot replace " + read_only + ": the file is read-only\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(testing::ReadFile(read_only), "a<!-- b -->\n");
}

// One run, every machine-readable format: each checked against the others
// and the JSON against its published schema, bytes that are not UTF-8
// included.
TEST_F(CliTest, MachineReadableFormatsAgree) {
  server_.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  server_.On("/moved/", {Behaviour::kReply,
                         "HTTP/1.0 301 Moved\r\nLocation: http://127.0.0.1/new, here\r\n\r\n"});
  const std::string page = site_.Write(
      "p\xe9ge.html", Link(Local("/ok/"), "Fine") + Link(Local("/gone\xff"), "Caf\xe9, \"menu\"") +
                          Link(Local("/moved/"), "Title: with, commas\r\nand % signs") +
                          "<a href=\"missing.html#x\">Local</a>\n" +
                          Link(Local("/esc\x1b[2J"), "Red \x1b[31m\x7f text"));
  const std::string dir = cli_.io.path().string();
  const CliResult r =
      cli_.Run({"-q", "--max-redirects", "0", "--format", "json", "--output",
                "junit=" + dir + "/r.xml", "--output", "github=" + dir + "/r.gh", "--output",
                "csv=" + dir + "/r.csv", "--output", "markdown=" + dir + "/r.md", page});
  EXPECT_EQ(r.status, 1);
  const std::string json = dir + "/r.json";
  std::ofstream(json, std::ios::binary) << r.out;
  const std::string source = QUIMBEL_SOURCE_DIR;
  const std::string check = "python3 " + source + "/tests/check_reports.py " + source +
                            "/docs/quimbel-report.schema.json " + json + " " + dir + "/r.xml " +
                            dir + "/r.gh " + dir + "/r.csv " + dir + "/r.md";
  EXPECT_EQ(std::system(check.c_str()), 0) << check;
  EXPECT_NE(r.out.find("\"url_hex\": \"" /* the 0xff of /gone */), std::string::npos);
  const std::string github = testing::ReadFile(dir + "/r.gh");
  EXPECT_NE(github.find(",title=HTTP Code 301 Moved Permanently::" + Local("/moved/")),
            std::string::npos)
      << github;
  EXPECT_NE(testing::ReadFile(dir + "/r.md")
                .find("| 5 | missing.html\\#x | Local File Not Found | Local |"),
            std::string::npos);
}

// Which links are checked and listed: --exclude, --include and --accept,
// and quimbel.toml in the folder checked or above it, whose options the
// command line overrides, a list given anew replacing the file's list.
TEST_F(CliTest, LinkRulesAndTheProjectConfig) {
  server_.On("/busy/", {Behaviour::kReply, "HTTP/1.0 429 Slow down\r\n\r\n"});
  const std::string page =
      site_.Write("sub/page.html", Link(Local("/skip/a"), "A") + Link(Local("/skip/keep"), "B") +
                                       Link(Local("/also/b"), "C") + Link(Local("/busy/"), "D") +
                                       Link(Local("/gone"), "E"));
  const std::string config =
      site_.Write("quimbel.toml",
                  "# the project's link rules\nexclude = [\"/skip/\", \"/also/\"]\n"
                  "include = \"keep$\"\nformat = \"csv\"\ntimeout = 7\n");
  const std::string other = site_.Write("other.toml", "format = \"github\"\n");
  struct Case {
    std::vector<std::string> args;
    std::string listed;  // the rows' paths
    int skipped;
    std::string starts;  // standard output
    std::string read;    // the config file the log names
  };
  const std::string all = "/skip/a /skip/keep /also/b /busy/ /gone ";
  const Case cases[] = {
      {{}, "/skip/keep /busy/ /gone ", 2, "file,line,url", config},
      {{"--format", "markdown"}, "/skip/keep /busy/ /gone ", 2, "## Quimbel", config},
      {{"--exclude", "/gone"}, "/skip/a /skip/keep /also/b /busy/ ", 1, "file,line,url", config},
      {{"--include", "a$"}, "/skip/a /busy/ /gone ", 2, "file,line,url", config},
      {{"--exclude", "/busy/", "--exclude", "^http://127\\.0\\.0\\.1:[0-9]+/gone$"},
       "/skip/a /skip/keep /also/b ",
       2,
       "file,line,url",
       config},
      {{"--accept", "429"}, "/skip/keep /gone ", 2, "file,line,url", config},
      {{"--accept", "400-499"}, "", 2, "", config},
      {{"--accept", "404, 429"}, "", 2, "", config},
      {{"--no-config"}, all, 0, page + "\n", ""},
      {{"--config", other}, all, 0, "::error file=", other},
  };
  const std::string csv = (cli_.io.path() / "rows.csv").string();
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--output", "csv=" + csv, page});
    SCOPED_TRACE(::testing::PrintToString(args));
    const CliResult r = cli_.Run(args);
    const std::string rows = testing::ReadFile(csv);
    std::string listed;
    const std::regex path(":[0-9]+(/[^,]*)");
    for (std::sregex_iterator it(rows.begin(), rows.end(), path), end; it != end; ++it)
      listed += (*it)[1].str() + " ";
    EXPECT_EQ(listed, c.listed);
    EXPECT_EQ(r.status, c.listed.empty() ? 0 : 1);
    EXPECT_EQ(r.out.substr(0, c.starts.size()), c.starts);
    const std::string counts =
        "URL errors: " + std::to_string(std::count(c.listed.begin(), c.listed.end(), ' ')) + "." +
        (c.skipped > 0 ? " URLs skipped: " + std::to_string(c.skipped) + "." : "") + "\n";
    EXPECT_NE(r.err.find(counts), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Options read from " + c.read) != std::string::npos, !c.read.empty());
  }
}

// Bad rules, formats and config files: one line, exit 2, nothing probed.
TEST_F(CliTest, BadRulesFormatsAndConfigsProbeNothing) {
  const std::string page = site_.Write("cfg/page.html", Link(Local("/x"), "X"));
  const std::string bad_toml = site_.Write("bad.toml", "timeout = \n");
  const std::string unknown_toml = site_.Write("unknown.toml", "colour = \"red\"\n");
  const std::string typed_toml = site_.Write("typed.toml", "exclude = 3\n");
  const std::string folder = (site_.path() / "folder.toml").string();
  std::filesystem::create_directories(folder);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--exclude", "(unclosed"}, "quimbel: the pattern \"(unclosed\" is no regular expression"},
      {{"--accept", "abc"}, "quimbel: the code list \"abc\" must be codes"},
      {{"--format", "xml"}, "quimbel: unknown format \"xml\""},
      {{"--output", "json"}, "quimbel: --output takes FORMAT=FILE"},
      {{"--output", "yaml=x"}, "quimbel: --output takes FORMAT=FILE"},
      {{"--config", bad_toml}, "quimbel: " + bad_toml + ":1: "},
      {{"--config", unknown_toml}, "quimbel: " + unknown_toml + ":1: \"colour\" is no option"},
      {{"--config", typed_toml}, "quimbel: " + typed_toml + ":1: exclude must be a string"},
      {{"--config", folder}, "quimbel: " + folder + ": cannot be read"},
      {{"--config", (site_.path() / "none.toml").string()}, "quimbel: "},
  };
  for (const auto& [options, error] : cases) {
    std::vector<std::string> args = options;
    args.push_back(page);
    SCOPED_TRACE(::testing::PrintToString(args));
    const CliResult r = cli_.Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, error.size()), error);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(server_.Requests().empty());
}

// What quimbel-cli writes to standard error when that is a terminal.
std::string StderrOnATerminal(std::vector<std::string> args, const std::string& config) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "no pty";
  const std::string slave = ::ptsname(master);
  args.insert(args.begin(), QUIMBEL_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string env_text = "XDG_CONFIG_HOME=" + config;
  char* env[] = {env_text.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  pid_t pid = 0;
  std::string seen;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env) == 0) {
    // Read while it runs: a full terminal buffer would hold it up.
    char buffer[4096];
    for (;;) {
      pollfd ready{master, POLLIN, 0};
      if (::poll(&ready, 1, 10000) <= 0) break;
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // EIO once the last writer closed the slave
      seen.append(buffer, static_cast<std::size_t>(n));
    }
    ::waitpid(pid, nullptr, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
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
  const std::string config = cli_.config.path().string();
  const std::string drawn = StderrOnATerminal({"-j", "1", page}, config);
  EXPECT_NE(drawn.find("File 1 of 1  "), std::string::npos) << drawn;
  EXPECT_TRUE(std::regex_search(drawn, std::regex("[0-9]+ links  [0-9]+/s  0:0[0-9] left  http")))
      << drawn;
  EXPECT_NE(drawn.find("\r\033[K"), std::string::npos);
  EXPECT_EQ(StderrOnATerminal({"-q", "-j", "1", page}, config), "");
  // Not a terminal: the log alone (compared whole above).
  EXPECT_EQ(cli_.Run({"-j", "1", page}).err.find("\033"), std::string::npos);
}

// A PATH works however it is written, run from inside the site.
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
    const CliResult r = cli_.Run({"-q", path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find(Local("/gone")), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("missing.html"), std::string::npos) << r.out;
  }
}

// A fifo as a report target: with no reader it is an error at once, with a
// reader that stops reading Ctrl+C still ends the run.
TEST_F(CliTest, AFifoTargetNeverHangs) {
  std::string page;
  // Rows enough to fill a pipe's buffer.
  for (int i = 0; i < 400; ++i)
    page += "<a href=\"missing" + std::to_string(i) + ".html\">x</a>\n";
  const std::string path = site_.Write("p.html", page);
  const std::string fifo = (cli_.io.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& target :
       {std::vector<std::string>{"--output", "json=" + fifo}, {"--text", fifo}, {"--html", fifo}}) {
    std::vector<std::string> args = target;
    args.push_back(path);
    const CliResult r = cli_.Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(fifo + ": no program is reading it"), std::string::npos) << r.err;
  }
  // A reader that takes nothing: the report fills the pipe, then Ctrl+C.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const CliResult r = cli_.Run({"--output", "json=" + fifo, path}, 3s);
  ::close(reader);
  EXPECT_EQ(r.status, 130) << r.err;
}

// Ctrl+C stops a run of pages whose links are all local within a second,
// though no reply is ever waited for.
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
  for (int i = 0;
       i < 500 && testing::ReadFile(cli_.ErrPath()).find("Testing: ") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(pid, SIGINT);
  const CliResult r = cli_.Finish(pid);
  EXPECT_EQ(r.status, 130);
  EXPECT_NE(r.err.find("Testing Stopped by User"), std::string::npos);
  // It stopped where it was, not after the last page.
  std::size_t tested = 0;
  for (std::size_t at = 0; (at = r.err.find("Results for ", at)) != std::string::npos; ++at)
    ++tested;
  EXPECT_LT(tested, kPages / 2u);
}

// A page that cannot be read is named with the system's reason; the pages
// after it are checked, and the run ends with 2, incomplete. Run as an
// ordinary user (root reads any file), in a child of its own.
TEST(CliUnreadablePage, IsSaidAndTheRunGoesOn) {
  testing::TempFolder site;
  ::chmod(site.path().c_str(), 0755);
  const std::string a = site.Write("a.html", "<a href=\"b.html\">b</a>\n");
  const std::string b = site.Write("b.html", "<a href=\"a.html\">a</a>\n");
  const std::string c = site.Write("c.html", "<a href=\"gone.html\">gone</a>\n");
  ::chmod(b.c_str(), 0);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(out[1], STDERR_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
    const std::string folder = site.path().string();
    ::setenv("HOME", "/nonexistent", 1);
    ::setenv("XDG_CONFIG_HOME", "/nonexistent", 1);
    ::execl(QUIMBEL_CLI_PATH, QUIMBEL_CLI_PATH, "-q", "-r", folder.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string said;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
    said.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no ordinary user to run as";
  EXPECT_EQ(WEXITSTATUS(status), 2) << said;
  EXPECT_NE(said.find("quimbel: Not checked: " + b + ": Permission denied"), std::string::npos)
      << said;
  EXPECT_NE(said.find(c + "\n   gone.html\n      Local File Not Found"), std::string::npos) << said;
  EXPECT_EQ(said.find("Processing has stopped"), std::string::npos) << said;
}

// A folder named as PATH without -a or -r is checked as -r -x, with a log
// line, and "site/" names its pages without a doubled "/"; a web address
// typed without its scheme gets a hint, a missing page does not.
TEST_F(CliTest, AFolderIsCheckedAsASite) {
  site_.Write("a.html", Link("sub/b.html", "B"));
  site_.Write("sub/b.html", Link("../gone.html", "Gone"));
  site_.Write("notes.txt", Link("gone-too.html", "Not a page"));
  const std::string folder = site_.path().string();
  for (const std::string& path : {folder, folder + "/", folder + "//"}) {
    const CliResult r = cli_.Run({"--format", "github", path});
    EXPECT_EQ(r.status, 1) << path << r.err;
    EXPECT_NE(r.err.find(folder + " is a folder: its HTML-like files are checked, in all its "
                                  "sub-folders, as -r -x does"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("file=" + folder + "/sub/b.html,line=1"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("//"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("gone-too"), std::string::npos) << r.out;
  }
  // -a keeps its meaning: this folder's files only.
  CliResult r = cli_.Run({"-a", folder});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find("is a folder"), std::string::npos);
  EXPECT_NE(r.out.find("gone-too.html"), std::string::npos);
  // A purge is never widened.
  r = cli_.Run({"--purge", folder});
  EXPECT_EQ(r.status, 2);
  const struct {
    std::string path;
    bool hint;
  } missing[] = {{"www.example.org/docs", true},
                 {"example.org", true},
                 {"nothere.html", false},
                 {"docs/page.htm", false}};
  for (const auto& m : missing) {
    r = cli_.Run({m.path});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("The specified file does not exist"), std::string::npos);
    EXPECT_EQ(r.err.find("begin it with https://") != std::string::npos, m.hint) << m.path;
  }
}

// A report never takes the place of a page it reports on, and a missing
// folder is said before the run, not after it.
TEST_F(CliTest, AReportTargetIsCheckedBeforeTheRun) {
  const std::string page = site_.Write("page.html", Link("gone.html", "Gone"));
  const std::string folder = site_.path().string();
  const struct {
    std::vector<std::string> args;
    std::string said;  // empty: the run goes on
  } cases[] = {
      {{"--output", "junit=" + page, page},
       "cannot write " + page + ": it is the page being checked"},
      {{"--html", folder + "/./page.html", page}, "it is the page being checked"},
      {{"--text", folder + "/sub/../report.htm", folder},
       "cannot write " + folder + "/sub/../report.htm: its folder does not exist"},
      {{"--html", folder + "/report.html", folder}, "it would be one of the pages checked"},
      {{"--output", "json=" + folder + "/none/r.json", page}, "its folder does not exist"},
      {{"--text", folder + "/report.txt", folder}, ""},
  };
  for (const auto& c : cases) {
    const CliResult r = cli_.Run(c.args);
    if (c.said.empty()) {
      EXPECT_EQ(r.status, 1) << r.err;
      continue;
    }
    EXPECT_EQ(r.status, 2) << c.said;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Start of test"), std::string::npos) << r.err;
  }
  EXPECT_EQ(testing::ReadFile(page), Link("gone.html", "Gone"));
}

// A cache that is no regular file is neither read nor written: a fifo
// would block the run before any probe. A damaged one is said even with
// -q.
TEST_F(CliTest, ACacheThatIsNoFileIsNotUsed) {
  const std::string path = site_.Write("p.html", Link("missing.html", "Gone"));
  const std::string fifo = (cli_.io.path() / "cache-fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  CliResult r = cli_.Run({"-q", "--cache", fifo, path});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("quimbel: The link cache " + fifo + " is not used: "), std::string::npos)
      << r.err;
  struct stat info {};
  ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  const std::string damaged = site_.Write("cache.json", "{not json");
  r = cli_.Run({"-q", "--cache", damaged, path});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("quimbel: The link cache " + damaged + " cannot be read; it is ignored"),
            std::string::npos)
      << r.err;
}

// Under a low limit on open files, the links in flight are lowered to fit
// and every good link stays good.
TEST_F(CliTest, FewOpenFilesLowerTheLinksInFlight) {
  std::string page;
  for (int i = 0; i < 300; ++i) {
    server_.On("/ok?" + std::to_string(i), {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
    page += Link(Local("/ok?" + std::to_string(i)), "Fine");
  }
  const std::string path = site_.Write("p.html", page);
  const std::string err = (cli_.io.path() / "limited.err").string();
  const std::string command = "ulimit -n 64 && XDG_CONFIG_HOME='" + cli_.config.path().string() +
                              "' HOME='" + cli_.config.path().string() + "' '" + QUIMBEL_CLI_PATH +
                              "' -j 256 --per-host 256 '" + path + "' >/dev/null 2>'" + err + "'";
  const int status = std::system(("sh -c \"" + command + "\"").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << testing::ReadFile(err);
  EXPECT_NE(
      testing::ReadFile(err).find("Links in flight lowered to 5: the limit on open files is 64"),
      std::string::npos)
      << testing::ReadFile(err);
}

// Waits, within a generous limit, for `text` to appear in the file.
bool WaitForText(const std::string& path, const std::string& text, int after = 0) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string now = testing::ReadFile(path);
    std::size_t seen = 0;
    for (auto at = now.find(text); at != std::string::npos; at = now.find(text, at + 1))
      ++seen;
    if (seen > static_cast<std::size_t>(after)) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// --watch: each page saved (in place or by rename) is checked again, its
// rows listed again; a changed id re-checks the page that links to it; a
// signal ends the watch with the status of the rows as they are then.
TEST_F(CliTest, WatchListsEachSavedPageAgainUntilStopped) {
  struct Case {
    int signal;
    std::string last_save;  // a.html's last text
    int status;
  };
  server_.On("/gone", {Behaviour::kReply, "HTTP/1.0 404 Not Found\r\n\r\n"});
  const Case cases[] = {
      {SIGINT, Link("b.html#x", "b") + Link(Local("/gone"), "g"), 1},
      {SIGTERM, Link("b.html#y", "b"), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    const std::string a = site_.Write("a.html", Link("b.html#x", "b") + Link(Local("/gone"), "g"));
    const std::string b = site_.Write("b.html", "<p id=x>\n");
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
    // The id a.html links to goes: a.html is checked again.
    site_.Write("b.html", "<p id=y>\n");
    ASSERT_TRUE(WaitForText(cli_.OutPath(), "Local Anchor Not Found"));
    site_.Write("a.html", c.last_save);
    ASSERT_TRUE(WaitForText(cli_.ErrPath(), "Checked again: " + a, 2));
    ::kill(pid, c.signal);
    const CliResult r = cli_.Finish(pid);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out.substr(0, a.size()), a) << "the run's listing comes first";
    // The network link's outcome came from the run: it was asked once.
    EXPECT_EQ(server_.Requests().size(), requests + 1);
  }
}

}  // namespace
// The time left is a guess from the pages so far: none is shown until
// enough of them (20, or a twentieth of a short run) have been read.
TEST(ProgressLineTest, TheTimeLeftWaitsForEnoughPages) {
  struct Case {
    const char* file_number;
    const char* file_total;
    const char* expected;  // the time left, or "" for none
  };
  for (const Case& c :
       {Case{"1", "10000", ""}, Case{"19", "10000", ""}, Case{"20", "10000", "  174:40 left"},
        Case{"1", "20", "  0:39 left"}, Case{"1", "21", ""}}) {
    SCOPED_TRACE(std::string(c.file_number) + " of " + c.file_total);
    ProgressTexts texts;
    texts.file_number = c.file_number;
    texts.file_total = c.file_total;
    texts.url_number = "1";
    texts.url_total = "1";
    texts.current_url = "u";
    ProgressCounts counts;
    counts.links_done = std::stoul(c.file_number);
    counts.elapsed = std::chrono::seconds(std::stoul(c.file_number));
    const std::string line = ProgressLine(texts, counts, false, 200);
    if (*c.expected == 0) {
      EXPECT_EQ(line.find(" left"), std::string::npos) << line;
    } else {
      EXPECT_NE(line.find(c.expected), std::string::npos) << line;
    }
  }
}

}  // namespace quimbel
