// A page's links as a test reads them, the run and a watch alike: the
// network links and the local ones checked on disk, in file order, less
// those the rules leave out.
#include <filesystem>

#include "core/run_controller.h"

namespace quimbel {

bool RunController::ExtractRunLinks(const std::string& path, LinkLists& lists,
                                    std::size_t& url_count) {
  if (crawl_) {
    if (!crawl_->ExtractLinks(path, settings_.rules, lists)) return false;
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
    progress_.SetFiles(total_files_);
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
  LeaveOutSkipped(settings_.rules, lists);
  return true;
}

std::string RunController::checked_folder() const {
  if (last_test_.path.empty() || last_test_.path.find("://") != std::string::npos) return {};
  std::error_code error;
  if (std::filesystem::is_directory(last_test_.path, error)) return last_test_.path;
  const std::string parent = std::filesystem::path(last_test_.path).parent_path().string();
  return parent.empty() ? "." : parent;
}

}  // namespace quimbel
