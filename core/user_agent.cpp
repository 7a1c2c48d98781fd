// The User-Agent a run's probes send: the user's own, when a header can
// carry it, else Quimbel's.
#include "core/run_settings.h"
#include "platform/product.h"

namespace quimbel {

bool IsUsableUserAgent(std::string_view agent) {
  if (agent.empty()) return false;
  for (const char c : agent) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

std::string RunUserAgent(const std::string& wanted) {
  return IsUsableUserAgent(wanted) ? wanted : UserAgent();
}

}  // namespace quimbel
