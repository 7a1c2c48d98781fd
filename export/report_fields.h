// Texts of the machine reports: bytes shown as UTF-8 text or hex, times,
// and the totals of a run's files. Pure functions; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result_list.h"
#include "core/run_controller.h"

namespace quimbel {

// The length of the valid UTF-8 sequence at `at`, or 0.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at);

bool IsUtf8(std::string_view text);

// The text with every byte that is no part of valid UTF-8 shown as U+FFFD;
// with `xml`, also the control characters XML 1.0 cannot hold.
std::string Displayable(std::string_view text, bool xml = false);

// The text as Displayable() makes it, with every control byte but tab and
// the line ends shown as its Unicode control picture (ESC as U+241B): a
// report read in a terminal or a CI log must not carry escape sequences.
std::string Shown(std::string_view text);

std::string Hex(std::string_view bytes);

std::string IsoTime(std::chrono::system_clock::time_point when);

bool IsLocalCode(std::uint32_t code);

const std::string& FileOf(const ResultRow& row);

// What Properties shows for a row: the five texts, each pair apart by an
// empty line and written as they stand, then its line, where a crawled
// page's link leads and whether it can be repaired in a source file, and
// where a followed move led.
std::string PropertiesText(const ResultRow& row);

std::size_t SkippedTotal(const FileRecords& files);

std::size_t TestedTotal(const FileRecords& files);

}  // namespace quimbel
