// The program's web request: one complete HTTP(S) exchange over WinINet,
// reached only through the DLL command table (its rows: web_dll.h),
// synchronous on the calling thread.
//
// Ownership: the returned ByteSet/Text is a new block (null when empty)
// owned by the caller. By-reference parameters point at the caller's
// variables, which hold owned blocks or null; the routine frees what it
// replaces. Nothing lives on between calls: every call opens and closes its
// own root, connection and request handles.
// Failure: never raises a runtime error of its own; failures give an empty
// body (and empty out parameters where they were reached). The stack check
// after each external call (runtime error 6) is the only error on this path.
// May call: the entry table (prog::), web/rules.h, web/web_dll.h (its DLL
// command rows), web/wininet_numbers.h.
#pragma once

#include <cstdint>
#include <optional>

#include "program/text_ops.h"

namespace web {

// The program side's text helpers, by their plain names.
using namespace prog;

// Optional parameters of WebRequest, in call order after the URL. An
// omitted value parameter is std::nullopt; an omitted by-reference
// parameter is a null pointer. Only `cookies` changes behaviour by being
// supplied (it turns WinINet's own cookie handling off and enables the
// merge), even when it holds an empty text.
struct WebRequestParams {
  std::optional<int32_t> method;           // 2: 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS,
                                           //    5 DELETE, 6 TRACE, 7 CONNECT; others GET
  const char* post_text = nullptr;         // 3: body as text
  OwnedText* cookies = nullptr;            // 4: in/out, rewritten by the merge
  OwnedText* returned_cookies = nullptr;   // 5: out, "a=1; b=2"
  OwnedText* headers = nullptr;            // 6: in/out, completed and rewritten
  OwnedText* returned_headers = nullptr;   // 7: out, the raw reply header block
  std::optional<bool> no_redirect;         // 8: default false
  OwnedBytes* post_bytes = nullptr;        // 9: in/out, body as bytes (wins over text)
  const char* proxy = nullptr;             // 10: empty = direct connection
  std::optional<bool> merge_cookies;       // 11: default true
  std::optional<bool> add_default_headers; // 12: default true
  std::optional<bool> normalize_header_names;  // 13: default true
};

// The reply body, whole (zero bytes included); empty on failure.
OwnedBytes WebRequest(const char* url, const WebRequestParams& params = WebRequestParams());

// GET with every default; the body as a Text cut at its first zero byte.
OwnedText WebGetText(const char* url);

// The user agent sent when the headers name none.
extern const char kDefaultUserAgent[];  // "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"

// The open-request flags the request uses (exposed for tests).
uint32_t OpenRequestFlags(bool secure, bool cookies_supplied, bool no_redirect);

}  // namespace web
