#include "core/status_code_table.h"

namespace quimbel {

namespace {

constexpr std::array<StatusCategory, StatusCodeTable::kCategoryCount> kTable = {{
    {0, 200, "HTTP Code 200 OK"},
    {1, 201, "HTTP Code 201 Created"},
    {2, 202, "HTTP Code 202 Accepted"},
    {3, 203, "HTTP Code 203 Non-Authoritative Information"},
    {4, 204, "HTTP Code 204 No Content"},
    {5, 205, "HTTP Code 205 Reset Content"},
    {6, 206, "HTTP Code 206 Partial Content"},
    {7, 300, "HTTP Code 300 Multiple Choices"},
    {8, 301, "HTTP Code 301 Moved Permanently"},
    {9, 302, "HTTP Code 302 Moved Temporarily"},
    {10, 303, "HTTP Code 303 See Other"},
    {11, 304, "HTTP Code 304 Not Modified"},
    {12, 305, "HTTP Code 305 Use Proxy"},
    {13, 400, "HTTP Code 400 Bad Request"},
    {14, 401, "HTTP Code 401 Unauthorized"},
    {15, 402, "HTTP Code 402 Payment Required"},
    {16, 403, "HTTP Code 403 Forbidden"},
    {17, 404, "HTTP Code 404 Not Found"},
    {18, 405, "HTTP Code 405 Method Not Allowed"},
    {19, 406, "HTTP Code 406 Not Acceptable"},
    {20, 407, "HTTP Code 407 Proxy Authentication Required"},
    {21, 408, "HTTP Code 408 Request Timeout"},
    {22, 409, "HTTP Code 409 Conflict"},
    {23, 410, "HTTP Code 410 Gone"},
    {24, 411, "HTTP Code 411 Length Required"},
    {25, 412, "HTTP Code 412 Precondition Failed"},
    {26, 413, "HTTP Code 413 Request Entity Too Large"},
    {27, 414, "HTTP Code 414 Request-URI Too Long"},
    {28, 415, "HTTP Code 415 Unsupported Media Type"},
    {29, 500, "HTTP Code 500 Internal Server Error"},
    {30, 501, "HTTP Code 501 Not Implemented"},
    {31, 502, "HTTP Code 502 Bad Gateway"},
    {32, 503, "HTTP Code 503 Service Unavailable"},
    {33, 504, "HTTP Code 504 Gateway Timeout"},
    {34, 505, "HTTP Code 505 HTTP Version Not Supported"},
    {35, 10000, "Error: Unspecified Socket Error"},
    {36, 10001, "Error: Request for Invalid Port or Name"},
    {37, 10002, "Error: Can't Find Named Host"},
    {38, 10003, "Error: Can't Establish Socket"},
    {39, 10004, "Error: Can't Connect to Host"},
    {40, 10005, "Error: Host Took Too Long to Respond"},
    {41, 10006, "Error: Send Failed"},
    {42, 10007, "Error: Select Failed"},
    // The codes today's servers send that the first table lacked.
    {43, 307, "HTTP Code 307 Temporary Redirect"},
    {44, 308, "HTTP Code 308 Permanent Redirect"},
    {45, 429, "HTTP Code 429 Too Many Requests"},
    {46, 451, "HTTP Code 451 Unavailable For Legal Reasons"},
    {47, 207, "HTTP Code 207 Multi-Status"},
    {48, 208, "HTTP Code 208 Already Reported"},
    {49, 226, "HTTP Code 226 IM Used"},
    {50, 416, "HTTP Code 416 Range Not Satisfiable"},
    {51, 417, "HTTP Code 417 Expectation Failed"},
    {52, 421, "HTTP Code 421 Misdirected Request"},
    {53, 422, "HTTP Code 422 Unprocessable Content"},
    {54, 423, "HTTP Code 423 Locked"},
    {55, 424, "HTTP Code 424 Failed Dependency"},
    {56, 425, "HTTP Code 425 Too Early"},
    {57, 426, "HTTP Code 426 Upgrade Required"},
    {58, 428, "HTTP Code 428 Precondition Required"},
    {59, 431, "HTTP Code 431 Request Header Fields Too Large"},
    {60, 506, "HTTP Code 506 Variant Also Negotiates"},
    {61, 507, "HTTP Code 507 Insufficient Storage"},
    {62, 508, "HTTP Code 508 Loop Detected"},
    {63, 510, "HTTP Code 510 Not Extended"},
    {64, 511, "HTTP Code 511 Network Authentication Required"},
    // https.
    {65, 10008, "Error: Secure Connection Failed"},
    // Local links.
    {66, 10100, "Local File Not Found"},
    {67, 10101, "Local Anchor Not Found"},
    // Moves that lead nowhere.
    {68, 10009, "Error: Redirect Loop"},
    {69, 10010, "Error: Too Many Redirects"},
    // Anchors on other sites' pages.
    {70, 10011, "Error: Anchor Not Found"},
    // An HTTP/2 stream the host ended before its reply came.
    {71, 10012, "Error: Stream Reset by Host"},
}};

}  // namespace

const std::array<StatusCategory, StatusCodeTable::kCategoryCount>& StatusCodeTable::Categories() {
  return kTable;
}

std::optional<int> StatusCodeTable::CategoryIndex(OutcomeCode code) {
  for (const StatusCategory& category : Categories()) {
    if (category.code == code) return category.index;
  }
  return std::nullopt;
}

std::string_view ReasonText(OutcomeCode code, bool& unknown_error_seen, Beeper& beeper) {
  if (const auto index = StatusCodeTable::CategoryIndex(code)) {
    return StatusCodeTable::Categories()[static_cast<std::size_t>(*index)].reason;
  }
  unknown_error_seen = true;
  beeper.Beep(BeepKind::kExclamation);
  return kUnknownErrorReason;
}

}  // namespace quimbel
