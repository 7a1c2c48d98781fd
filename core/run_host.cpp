#include "core/run_host.h"

#include <ctime>

namespace quimbel {

std::string RunHost::LongDateTime() {
  return FormatLongDateTime(std::chrono::system_clock::now());
}

std::string LogLineText(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    line += text[i];
  }
  line += '\n';
  return line;
}

std::string FormatLongDateTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, "%A, %B %d, %Y %X", &local);
  return std::string(text, length);
}

}  // namespace quimbel
