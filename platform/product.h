// The product's own facts, typed once: shown by the About box, the CLI,
// the HTML report and the help page, and naming the settings file; the
// build reads them from here too, for the package, the manual pages and
// the AppStream data, so each is written once. The version comes from the
// build (CMake's project version). Any thread.
#pragma once

#include <string>
#include <string_view>

namespace quimbel {

#ifndef QUIMBEL_VERSION
#error "QUIMBEL_VERSION comes from the build"
#endif

inline constexpr std::string_view kProductName = "Quimbel";
// Who makes it: the settings live under this name.
inline constexpr std::string_view kOrganization = "Marrowfen";
inline constexpr std::string_view kProductVersion = QUIMBEL_VERSION;
// As the About box and --version show it.
inline constexpr std::string_view kProductVersionLine = "Quimbel Version " QUIMBEL_VERSION;
inline constexpr std::string_view kHomePage = "http://www.marrowfen.example/quimbel/";
inline constexpr std::string_view kSupportMail = "quimbel@marrowfen.example";
// The home page's domain reversed, with the name: the window's desktop
// entry and its AppStream data are named after it, and Wayland is told it
// so that the window finds its entry (and icon).
inline constexpr std::string_view kDesktopId = "example.marrowfen.Quimbel";
// What a probe says it is. No "link" or "checker" in it: bot rules refuse
// agents that say so.
inline std::string UserAgent() {
  return std::string(kProductName) + "/" + std::string(kProductVersion) + " (+" +
         std::string(kHomePage) + ")";
}

}  // namespace quimbel
