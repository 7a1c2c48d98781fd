// libcurl's global set-up, made once per process. The programs make it at
// start, before any thread runs (curl_global_init must not race another
// thread's use of libcurl); a probe worker made without it (a test) makes
// it then.
#pragma once

namespace quimbel {

// Sets libcurl up, the first call only; whether it is ready.
bool InitialiseCurl();

}  // namespace quimbel
