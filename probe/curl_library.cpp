#include "probe/curl_library.h"

#include <curl/curl.h>

namespace quimbel {

bool InitialiseCurl() {
  // Left set up until the process ends: the worker threads may still hold
  // handles while static objects go away.
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

}  // namespace quimbel
