// The environment's proxies as the usual tools read them (http_proxy,
// https_proxy, all_proxy and no_proxy, in either case), told to libcurl so
// that both agree. The probe thread's.
#pragma once

#include <curl/curl.h>

#include <string>

#include "links/url_split.h"

namespace quimbel {

// Sets the proxy of `easy` for a probe of `host`; whether one is used.
bool ConfigureProxy(CURL* easy, Protocol protocol, const std::string& host);

// Whether no_proxy exempts `host`: "*", or host names and domain suffixes
// separated by commas, in any case.
bool IsExemptFromProxy(std::string host);

// "scheme://host:port" with an international host name in its ASCII
// (punycode) form, as a proxy must be sent it; unchanged when curl cannot
// convert it.
std::string AsciiOrigin(const std::string& origin);

}  // namespace quimbel
