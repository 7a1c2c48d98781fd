// quimbel-cli-docs TEMPLATE: the template on standard output, its markers
// replaced by lists made from the run option table, the one table the
// command line reads. The build fills quimbel-cli's manual page and its
// shell completion with it, so neither can name an option the program
// does not take, or miss one it does. Not installed.
//
// Markers: %OPTIONS% (the manual's option entries), %CONFIG_KEYS% and
// %REFUSED_KEYS% (the options quimbel.toml may set, and those it may not),
// %STORED% (the options that fall back to a stored preference), and for
// the completion %SWITCHES%, %VALUED% (options that take a value),
// %PATHS% (those whose value is a file) and %FORMATS%.
//
// Exit status: 0 written, 2 the template could not be read or the result
// not written.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_options.h"
#include "export/machine_reports.h"

namespace quimbel {
namespace {

// Which hyphens are minus signs (\-), so that a name can be searched
// for and copied: all of them, or those of words that start with one (the
// options a help text names). Other hyphens join words.
enum class Minus { kAll, kInOptions };

// Text as roff shows it: a backslash is \e, and the hyphens of names are
// minus signs.
std::string Roff(std::string_view text, Minus minus) {
  std::string out;
  bool option_word = minus == Minus::kAll;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (minus == Minus::kInOptions && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '(')) {
      option_word = c == '-';
    }
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && option_word) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  // A line must not start with a control character.
  if (out.starts_with('.') || out.starts_with('\'')) out.insert(0, "\\&");
  return out;
}

// One .TP entry for each option: its names and value in bold and italics, then
// its help text as one paragraph.
std::string ManualOptions() {
  std::string text;
  for (const OptionSpec& option : RunOptionTable()) {
    text += ".TP\n";
    if (option.short_name != 0) text += "\\fB\\-" + std::string(1, option.short_name) + "\\fR, ";
    text += "\\fB" + Roff("--" + std::string(option.name), Minus::kAll) + "\\fR";
    if (!option.value_name.empty()) {
      text += " \\fI" + Roff(option.value_name, Minus::kAll) + "\\fR";
    }
    std::string help = ExpandedHelp(option, ReportFormatChoices());
    for (char& c : help) {
      if (c == '\n') c = ' ';
    }
    text += "\n" + Roff(help, Minus::kInOptions) + "\n";
  }
  return text;
}

// "\fBall\-files\fR, \fBrecurse\fR, ...": the long names of the options
// whose config use is `use`, as the manual shows them.
std::string ManualNames(ConfigUse use) {
  std::string text;
  for (const OptionSpec& option : RunOptionTable()) {
    if (option.config != use) continue;
    if (!text.empty()) text += ", ";
    text += "\\fB" + Roff(option.name, Minus::kAll) + "\\fR";
  }
  return text;
}

// "--timeout, ... and --user-agent", as --help says it.
std::string ManualStored() {
  return Roff(OptionsWithStoredDefaults(), Minus::kInOptions);
}

enum class Words { kSwitches, kValued, kPaths };

// The names the completion offers, long and short, space apart.
std::string CompletionWords(Words which) {
  std::string text;
  for (const OptionSpec& option : RunOptionTable()) {
    const bool wanted = which == Words::kSwitches ? option.kind == OptionKind::kSwitch
                        : which == Words::kValued ? option.kind != OptionKind::kSwitch
                                                  : option.kind == OptionKind::kPath;
    if (!wanted) continue;
    if (!text.empty()) text += ' ';
    text += "--" + std::string(option.name);
    if (option.short_name != 0) text += " -" + std::string(1, option.short_name);
  }
  return text;
}

std::string FormatWords() {
  std::string text;
  for (const ReportFormatRow& format : ReportFormats()) {
    if (!text.empty()) text += ' ';
    text += format.name;
  }
  return text;
}

void ReplaceAll(std::string& text, std::string_view marker, const std::string& with) {
  for (std::size_t at = 0; (at = text.find(marker, at)) != std::string::npos;) {
    text.replace(at, marker.size(), with);
    at += with.size();
  }
}

}  // namespace
}  // namespace quimbel

int main(int argc, char** argv) {
  using quimbel::ConfigUse;
  using quimbel::Words;
  if (argc != 2) {
    std::cerr << "usage: quimbel-cli-docs TEMPLATE\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  if (!in) {
    std::cerr << "quimbel-cli-docs: cannot read " << argv[1] << "\n";
    return 2;
  }
  std::string text = read.str();
  // %OPTIONS% stands on a line of its own; its entries end with a newline.
  quimbel::ReplaceAll(text, "%OPTIONS%\n", quimbel::ManualOptions());
  quimbel::ReplaceAll(text, "%CONFIG_KEYS%", quimbel::ManualNames(ConfigUse::kKey));
  quimbel::ReplaceAll(text, "%REFUSED_KEYS%", quimbel::ManualNames(ConfigUse::kRefused));
  quimbel::ReplaceAll(text, "%STORED%", quimbel::ManualStored());
  quimbel::ReplaceAll(text, "%SWITCHES%", quimbel::CompletionWords(Words::kSwitches));
  quimbel::ReplaceAll(text, "%VALUED%", quimbel::CompletionWords(Words::kValued));
  quimbel::ReplaceAll(text, "%PATHS%", quimbel::CompletionWords(Words::kPaths));
  quimbel::ReplaceAll(text, "%FORMATS%", quimbel::FormatWords());
  std::cout << text << std::flush;
  if (!std::cout) {
    std::cerr << "quimbel-cli-docs: cannot write the result\n";
    return 2;
  }
  return 0;
}
