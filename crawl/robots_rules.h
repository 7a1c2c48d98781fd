// RobotsRules: what a site's robots.txt lets Quimbel's crawl fetch.
//
// Read as RFC 9309 says: the group whose User-agent names Quimbel's product
// token (case aside) holds, else the "*" group; of the Allow and Disallow
// rules whose path matches the start of a page's path and query, the
// longest wins, and Allow wins a tie. "*" in a rule matches any bytes and
// a final "$" anchors it at the end. A file that cannot be read allows
// everything. Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quimbel {

class RobotsRules {
 public:
  RobotsRules() = default;  // allows everything
  // The rules of `text` for the robot whose product token is `agent`
  // ("Quimbel").
  static RobotsRules Parse(std::string_view text, std::string_view agent);

  // Whether a page may be fetched; `path` is its path and query ("/a?b").
  bool Allows(std::string_view path) const;

 private:
  struct Rule {
    std::string pattern;
    bool allow = false;
  };
  std::vector<Rule> rules_;
};

}  // namespace quimbel
