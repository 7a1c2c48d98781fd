// A run's options as the stored settings give them, and a run configured
// from the options given with the stored settings beneath.
#include "core/run_controller.h"
#include "core/run_options.h"
#include "core/settings_keys.h"

namespace quimbel {

int StoredNumber(SettingsStore& settings, const OptionSpec& option) {
  const int stored = settings.Get(*option.stored_number);
  return stored >= option.low && stored <= option.high ? stored
                                                       : option.stored_number->default_value;
}

int StoredNumber(SettingsStore& settings, std::string_view option_name) {
  return StoredNumber(settings, *FindOption(option_name));
}

RunOptions StoredRunOptions(SettingsStore& settings) {
  RunOptions options;
  options.timeout = settings.Get(settings::kTimeout);
  options.parallel = StoredNumber(settings, "parallel");
  options.per_host = StoredNumber(settings, "per-host");
  options.streams = StoredNumber(settings, "streams");
  options.max_redirects = StoredNumber(settings, "max-redirects");
  options.user_agent = settings.Get(settings::kUserAgent);
  options.rate = StoredNumber(settings, "rate");
  if (settings.Get(settings::kLinkCache) != 0) options.cache_file = DefaultStoreFile();
  options.history = settings.Get(settings::kHistory) != 0;
  options.exclude = PatternLines(settings.Get(settings::kExclude));
  options.include = PatternLines(settings.Get(settings::kInclude));
  const std::string accept = settings.Get(settings::kAccept);
  if (!accept.empty()) {
    Result<std::vector<CodeRange>> codes = ParseCodeList(accept);
    // A stored list nobody could type is ignored, as an unset one.
    if (codes) options.accept = std::move(codes).value();
  }
  options.ca_file = settings.Get(settings::kCaFile);
  options.insecure = settings.Get(settings::kInsecure) != 0;
  options.crawl.obey_robots = settings.Get(settings::kIgnoreRobots) == 0;
  options.local.check_fragments = settings.Get(settings::kCheckFragments) != 0;
  options.list_layers = {{"exclude", 0}, {"include", 0}};
  return options;
}

ReportFilter RunFilter(const RunOptions& options, SettingsStore& settings) {
  ReportFilter filter = options.filter ? ReportFilter(*options.filter)
                                       : LoadFilterText(settings.Get(settings::kFilter)).filter;
  filter.Accept(options.accept);
  return filter;
}

int RunTimeout(const RunOptions& options, SettingsStore& settings) {
  const int timeout = options.timeout.value_or(settings.Get(settings::kTimeout));
  return timeout < 1 ? settings::kTimeout.default_value : timeout;
}

Status ConfigureRun(RunController& controller, const RunOptions& options, SettingsStore& settings) {
  Result<LinkRules> rules = LinkRules::Make(options.exclude, options.include);
  if (!rules) return rules.status();
  // A stored file may have gone since it was chosen: every https link
  // would fail with a certificate error nobody could explain.
  if (!options.ca_file.empty()) {
    if (Status readable = CheckCaFile(options.ca_file); !readable) return readable;
  }
  ProbeSettings probe;
  probe.parallel = options.parallel.value_or(StoredNumber(settings, "parallel"));
  probe.per_host = options.per_host.value_or(StoredNumber(settings, "per-host"));
  probe.streams = options.streams.value_or(StoredNumber(settings, "streams"));
  probe.http2_prior_knowledge = options.http2_prior_knowledge;
  probe.max_redirects = options.max_redirects.value_or(StoredNumber(settings, "max-redirects"));
  probe.ca_file = options.ca_file;
  probe.insecure = options.insecure;
  probe.rate_per_host = options.rate.value_or(StoredNumber(settings, "rate"));
  RunSettings& run = controller.settings();
  run.filter = RunFilter(options, settings);
  run.timeout = std::chrono::seconds(RunTimeout(options, settings));
  run.probe = probe;
  run.user_agent = RunUserAgent(options.user_agent.value_or(settings.Get(settings::kUserAgent)));
  run.local = options.local;
  run.cache_file = options.cache_file;
  run.cache_max_age =
      std::chrono::seconds(options.cache_max_age.value_or(kDefaultCacheMaxAge.count()));
  // Only new rows can be told apart with the history kept.
  run.history = options.history || options.since_last;
  run.resume = options.resume;
  run.rules = std::move(rules).value();
  return Status::Ok();
}

}  // namespace quimbel
