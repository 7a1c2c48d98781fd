// Text between the engine's UTF-8 strings and Qt's: one conversion, its
// length carried whole. Any thread.
#pragma once

#include <QString>
#include <string_view>

namespace quimbel {

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace quimbel
