#include <gtest/gtest.h>

#include <string>

#include "core/report_filter.h"
#include "core/status_code_table.h"

namespace quimbel {
namespace {

struct CountingBeeper : Beeper {
  void Beep(BeepKind kind) override {
    if (kind == BeepKind::kExclamation) ++exclamations;
  }
  int exclamations = 0;
};

TEST(StatusCodeTable, BoundariesOfEveryBlock) {
  struct Case {
    OutcomeCode code;
    int index;  // -1: no category
    const char* reason;
  };
  const Case cases[] = {
      {199, -1, nullptr},
      {200, 0, "HTTP Code 200 OK"},
      {206, 6, "HTTP Code 206 Partial Content"},
      {207, 47, "HTTP Code 207 Multi-Status"},
      {209, -1, nullptr},
      {226, 49, "HTTP Code 226 IM Used"},
      {299, -1, nullptr},
      {300, 7, "HTTP Code 300 Multiple Choices"},
      {302, 9, "HTTP Code 302 Moved Temporarily"},
      {305, 12, "HTTP Code 305 Use Proxy"},
      {306, -1, nullptr},
      {307, 43, "HTTP Code 307 Temporary Redirect"},
      {308, 44, "HTTP Code 308 Permanent Redirect"},
      {309, -1, nullptr},
      {400, 13, "HTTP Code 400 Bad Request"},
      {414, 27, "HTTP Code 414 Request-URI Too Long"},
      {415, 28, "HTTP Code 415 Unsupported Media Type"},
      {416, 50, "HTTP Code 416 Range Not Satisfiable"},
      {418, -1, nullptr},
      {429, 45, "HTTP Code 429 Too Many Requests"},
      {451, 46, "HTTP Code 451 Unavailable For Legal Reasons"},
      {500, 29, "HTTP Code 500 Internal Server Error"},
      {505, 34, "HTTP Code 505 HTTP Version Not Supported"},
      {506, 60, "HTTP Code 506 Variant Also Negotiates"},
      {509, -1, nullptr},
      {511, 64, "HTTP Code 511 Network Authentication Required"},
      {512, -1, nullptr},
      {9999, -1, nullptr},
      {10000, 35, "Error: Unspecified Socket Error"},
      {10002, 37, "Error: Can't Find Named Host"},
      {10005, 40, "Error: Host Took Too Long to Respond"},
      {10007, 42, "Error: Select Failed"},
      {10008, 65, "Error: Secure Connection Failed"},
      {10009, 68, "Error: Redirect Loop"},
      {10010, 69, "Error: Too Many Redirects"},
      {10011, -1, nullptr},
      {0, -1, nullptr},
      {4294967295u, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const auto index = StatusCodeTable::CategoryIndex(c.code);
    CountingBeeper beeper;
    bool unknown = false;
    const std::string reason(ReasonText(c.code, unknown, beeper));
    if (c.index < 0) {
      EXPECT_FALSE(index.has_value());
      EXPECT_EQ(reason, "Error: UNKNOWN Error!");
      EXPECT_TRUE(unknown);
      EXPECT_EQ(beeper.exclamations, 1);
    } else {
      ASSERT_EQ(index, c.index);
      EXPECT_EQ(reason, c.reason);
      EXPECT_FALSE(unknown);
      EXPECT_EQ(beeper.exclamations, 0);
      EXPECT_EQ(StatusCodeTable::Categories()[static_cast<std::size_t>(c.index)].code, c.code);
    }
  }
}

TEST(StatusCodeTable, TableIsInFilterOrderWithTheRequiredPrefixes) {
  const auto& table = StatusCodeTable::Categories();
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(table[i].code);
    EXPECT_EQ(table[i].index, static_cast<int>(i));
    EXPECT_EQ(StatusCodeTable::CategoryIndex(table[i].code), static_cast<int>(i));
    const std::string reason(table[i].reason);
    // Repair tells connection failures apart by the "Error:" prefix.
    // Local links' faults are the page's own, never passing network
    // trouble, so the repair's "Ignore" must not pass them over.
    if (table[i].code < 10000) {
      EXPECT_EQ(reason.rfind("HTTP Code " + std::to_string(table[i].code) + " ", 0), 0u);
    } else if (table[i].code >= kLocalFileNotFound) {
      EXPECT_EQ(reason.rfind("Local ", 0), 0u);
    } else {
      EXPECT_EQ(reason.rfind("Error: ", 0), 0u);
    }
  }
}

TEST(ReportFilter, Presets) {
  struct Case {
    std::string_view filter;
    OutcomeCode code;
    bool reported;
  };
  const Case cases[] = {
      {kDefaultFilter, 200, false},
      {kDefaultFilter, 201, true},
      {kDefaultFilter, 404, true},
      {kDefaultFilter, 10004, true},
      {kDefaultFilter, 10007, true},
      {kTypeBFilter, 404, true},
      {kTypeBFilter, 401, true},
      {kTypeBFilter, 415, true},
      {kTypeBFilter, 10002, true},
      {kTypeBFilter, 400, false},
      {kTypeBFilter, 500, false},
      {kTypeBFilter, 302, false},
      {kTypeBFilter, 10004, false},
      {kTypeBFilter, 10001, false},
      {kTypeBFilter, 200, false},
      // The added categories: all in the default, client errors but 429 in
      // the worst offenders.
      {kDefaultFilter, 307, true},
      {kDefaultFilter, 511, true},
      {kTypeBFilter, 416, true},
      {kTypeBFilter, 451, true},
      {kTypeBFilter, 429, false},
      {kTypeBFilter, 308, false},
      {kTypeBFilter, 207, false},
      // Codes without a category are reported whatever the filter says.
      {kTypeBFilter, 418, true},
      {kTypeBFilter, 10008, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + std::to_string(c.code));
    EXPECT_EQ(ReportFilter(std::string(c.filter)).IsReported(c.code), c.reported);
  }
}

TEST(ReportFilter, AnyCharacterButZeroReports) {
  std::string filter(43, '0');
  filter[17] = 'x';  // 404
  EXPECT_TRUE(ReportFilter(filter).IsReported(404));
  EXPECT_FALSE(ReportFilter(filter).IsReported(403));
}

TEST(ReportFilter, LoadingChecksOnlyTheLength) {
  const std::string added(kDefaultFilter.substr(43));
  struct Case {
    std::string stored;
    bool reset;
    std::string loaded;  // empty: the stored text
  };
  const Case cases[] = {
      {std::string(kDefaultFilter), false, ""},
      {std::string(70, '?'), false, ""},
      // An earlier filter keeps its choices and reports the added ones.
      {std::string(43, '0'), false, std::string(43, '0') + added},
      {std::string(43, '?'), false, std::string(43, '?') + added},
      {std::string(65, '0'), false, std::string(65, '0') + "11111"},
      {std::string(66, '0'), false, std::string(66, '0') + "1111"},
      {std::string(68, '0'), false, std::string(68, '0') + "11"},
      {std::string(42, '1'), true, std::string(kDefaultFilter)},
      {std::string(44, '1'), true, std::string(kDefaultFilter)},
      {std::string(64, '1'), true, std::string(kDefaultFilter)},
      {std::string(67, '1'), true, std::string(kDefaultFilter)},
      {std::string(69, '1'), true, std::string(kDefaultFilter)},
      {std::string(71, '1'), true, std::string(kDefaultFilter)},
      {"", true, std::string(kDefaultFilter)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    const LoadedFilter loaded = LoadFilterText(c.stored);
    EXPECT_EQ(loaded.reset_to_default, c.reset);
    const std::size_t length = c.stored.size();
    EXPECT_EQ(loaded.extended, length == 43 || length == 65 || length == 66 || length == 68);
    EXPECT_EQ(loaded.filter.text(), c.loaded.empty() ? c.stored : c.loaded);
  }
  // An all-"1" filter reports code 200 too.
  EXPECT_TRUE(LoadFilterText(std::string(43, '1')).filter.IsReported(200));
}

}  // namespace
}  // namespace quimbel
