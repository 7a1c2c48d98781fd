// InjectedFault: makes the file layer fail at one step for as long as it
// lives, the way a full disk or a read-only folder would. FolderEntries:
// what a folder holds, to see that nothing was left behind.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_faults.h"

namespace quimbel::testing {

enum class FaultAt { kCreate, kWrite, kInstall };

class InjectedFault : public FileFaults {
 public:
  // Fails the step `at` with `error`; a write fails once `write_budget`
  // bytes have gone through.
  InjectedFault(FaultAt at, int error, std::size_t write_budget = 0)
      : at_(at), error_(error), budget_(write_budget) {
    SetFileFaults(this);
  }
  ~InjectedFault() override { SetFileFaults(nullptr); }
  InjectedFault(const InjectedFault&) = delete;
  InjectedFault& operator=(const InjectedFault&) = delete;

  int OnCreate(const std::string&) override { return at_ == FaultAt::kCreate ? error_ : 0; }
  int OnWrite(const std::string&, std::size_t bytes) override {
    if (at_ != FaultAt::kWrite) return 0;
    if (bytes <= budget_) {
      budget_ -= bytes;
      return 0;
    }
    return error_;
  }
  int OnInstall(const std::string&) override { return at_ == FaultAt::kInstall ? error_ : 0; }

 private:
  FaultAt at_;
  int error_;
  std::size_t budget_;
};

// The names in `folder`, sorted, hidden ones included.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quimbel::testing
