// A page's links as a test reads them, the run and a watch alike: the
// network links and the local ones checked on disk, in file order, less
// those the rules leave out.
#include <filesystem>

#include "core/run_controller.h"

namespace quimbel {

bool RunController::ExtractRunLinks(const std::string& path, LinkLists& lists,
                                    std::size_t& url_count) {
  if (crawler_) {
    if (!ExtractCrawledLinks(path, lists)) return false;
    url_count = lists.urls.size();
    return true;
  }
  if (!local_checker_) return ExtractUrls(path, lists, url_count);
  if (!ReadPageLinks(path, *local_checker_, lists)) return false;
  url_count = lists.urls.size();
  // The style sheets the page links to are read in turn, after the run's
  // files.
  for (std::string& sheet : local_checker_->TakeStyleSheets()) {
    // Spelled as the page is: relative to the current folder when it is.
    if (!path.empty() && path.front() != '/') {
      std::error_code error;
      const auto relative =
          std::filesystem::path(sheet).lexically_relative(std::filesystem::current_path(error));
      if (!error && !relative.empty() && *relative.begin() != "..") sheet = relative.string();
    }
    files_.push_back(std::move(sheet));
    ++total_files_;
    if (progress_open_) host_.SetFileBarRange(total_files_);
  }
  return true;
}

bool RunController::ReadPageLinks(const std::string& path, LocalLinkChecker& checker,
                                  LinkLists& lists) {
  Status why;
  const auto file = MappedFile::Open(path, &why);
  if (!file) {
    unreadable_.insert_or_assign(path, why.message());
    return false;
  }
  // What the page was when it was read: a repair, and a watch, go by it.
  results_.SetPageIdentity(path, file->identity());
  checker.AddPageLinks(path, *file, lists);
  if (!settings_.rules.empty()) LeaveOutSkipped(lists);
  return true;
}

void RunController::LeaveOutSkipped(LinkLists& lists) const {
  LinkLists kept;
  kept.skipped = lists.skipped;
  while (!lists.urls.empty()) {
    // A fetched page's link is judged by where it leads.
    if (settings_.rules.Skips(lists.targets.empty() ? lists.urls.front() : lists.targets.front())) {
      ++kept.skipped;
      PopFrontLink(lists);
    } else {
      MoveFrontLink(lists, kept);
    }
  }
  lists = std::move(kept);
}

void RunController::LeaveOutDisallowed(const std::string& page, LinkLists& lists) {
  if (!crawler_ || lists.targets.empty()) return;
  LinkLists kept;
  kept.skipped = lists.skipped;
  std::vector<CheckedLink> left_out;
  while (!lists.urls.empty()) {
    if (crawler_->Allows(lists.targets.front())) {
      MoveFrontLink(lists, kept);
      continue;
    }
    left_out.push_back({lists.urls.front(), lists.lines.front(), std::nullopt});
    PopFrontLink(lists);
  }
  lists = std::move(kept);
  if (left_out.empty()) return;
  not_requested_count_ += left_out.size();
  auto& noted = not_requested_[page];
  noted.insert(noted.end(), std::make_move_iterator(left_out.begin()),
               std::make_move_iterator(left_out.end()));
}

std::string RunController::checked_folder() const {
  if (last_test_.path.empty() || last_test_.path.find("://") != std::string::npos) return {};
  std::error_code error;
  if (std::filesystem::is_directory(last_test_.path, error)) return last_test_.path;
  const std::string parent = std::filesystem::path(last_test_.path).parent_path().string();
  return parent.empty() ? "." : parent;
}

}  // namespace quimbel
