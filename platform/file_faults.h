// FileFaults: lets tests make the file layer fail the way a full disk, a
// read-only folder or a lost permission would, without mounting anything.
// Nothing is installed outside tests. Any thread.
#pragma once

#include <cstddef>
#include <string>

namespace quimbel {

class FileFaults {
 public:
  virtual ~FileFaults() = default;
  // Each returns the errno value to fail with, or 0 to go ahead.
  virtual int OnCreate(const std::string& /*temporary*/) { return 0; }
  virtual int OnWrite(const std::string& /*temporary*/, std::size_t /*bytes*/) { return 0; }
  virtual int OnInstall(const std::string& /*target*/) { return 0; }
};

// Installs `faults` for every thread; nullptr removes it. The caller keeps
// it alive until it is removed.
void SetFileFaults(FileFaults* faults);
FileFaults* CurrentFileFaults();

}  // namespace quimbel
