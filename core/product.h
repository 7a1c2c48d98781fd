// The product's own facts, shown by the About box, the CLI, the HTML
// report and the help page. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace quimbel {

inline constexpr std::string_view kProductName = "Quimbel";
inline constexpr std::string_view kProductVersion = "3.3";
// As the About box and --version show it.
inline constexpr std::string_view kProductVersionLine = "Quimbel Version 3.3";
inline constexpr std::string_view kHomePage = "http://www.marrowfen.example/quimbel/";
inline constexpr std::string_view kSupportMail = "quimbel@marrowfen.example";
// What a probe says it is. No "link" or "checker" in it: bot rules refuse
// agents that say so.
inline std::string UserAgent() {
  return std::string(kProductName) + "/" + std::string(kProductVersion) + " (+" +
         std::string(kHomePage) + ")";
}

}  // namespace quimbel
