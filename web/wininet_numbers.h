// WinINet's numbers as the DLL commands pass them (the values of the
// platform's wininet.h constants, which the program side does not include:
// it reaches WinINet only through a DLL command table). Shared by the web
// client (web_request.cpp) and the measurement engine's edge
// (measure/measure_edge.cpp).
// Owns: constants only. May call: nothing; header-only and portable.
#pragma once

#include <cstdint>

namespace web::wininet {

// InternetOpenA access types.
constexpr uint32_t kOpenTypePreconfig = 0;  // INTERNET_OPEN_TYPE_PRECONFIG
constexpr uint32_t kOpenTypeDirect = 1;  // INTERNET_OPEN_TYPE_DIRECT
constexpr uint32_t kOpenTypeProxy = 3;   // INTERNET_OPEN_TYPE_PROXY
// InternetConnectA services.
constexpr uint32_t kServiceHttp = 3;  // INTERNET_SERVICE_HTTP
// HttpOpenRequestA flags.
constexpr uint32_t kFlagReload = 0x80000000u;                // INTERNET_FLAG_RELOAD
constexpr uint32_t kFlagNoCacheWrite = 0x04000000u;          // INTERNET_FLAG_NO_CACHE_WRITE
constexpr uint32_t kFlagSecure = 0x00800000u;                // INTERNET_FLAG_SECURE
constexpr uint32_t kFlagKeepConnection = 0x00400000u;        // INTERNET_FLAG_KEEP_CONNECTION
constexpr uint32_t kFlagNoAutoRedirect = 0x00200000u;        // INTERNET_FLAG_NO_AUTO_REDIRECT
constexpr uint32_t kFlagNoCookies = 0x00080000u;             // INTERNET_FLAG_NO_COOKIES
constexpr uint32_t kFlagIgnoreRedirectToHttps = 0x00004000u; // INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
constexpr uint32_t kFlagNoUi = 0x00000200u;                  // INTERNET_FLAG_NO_UI
constexpr uint32_t kFlagPragmaNoCache = 0x00000100u;         // INTERNET_FLAG_PRAGMA_NOCACHE
constexpr uint32_t kFlagNeedFile = 0x00000010u;              // INTERNET_FLAG_NEED_FILE
// HttpQueryInfoA levels and modifiers.
constexpr uint32_t kQueryContentLength = 5;         // HTTP_QUERY_CONTENT_LENGTH
constexpr uint32_t kQueryDate = 9;                  // HTTP_QUERY_DATE
constexpr uint32_t kQueryStatusCode = 19;           // HTTP_QUERY_STATUS_CODE
constexpr uint32_t kQueryRawHeadersCrlf = 22;       // HTTP_QUERY_RAW_HEADERS_CRLF
constexpr uint32_t kQueryAge = 48;                  // HTTP_QUERY_AGE
constexpr uint32_t kQueryVia = 66;                  // HTTP_QUERY_VIA
constexpr uint32_t kQueryFlagNumber = 0x20000000u;  // HTTP_QUERY_FLAG_NUMBER
// InternetSetOptionA options.
constexpr uint32_t kOptionConnectTimeout = 2;  // INTERNET_OPTION_CONNECT_TIMEOUT
constexpr uint32_t kOptionSendTimeout = 5;     // INTERNET_OPTION_SEND_TIMEOUT
constexpr uint32_t kOptionReceiveTimeout = 6;  // INTERNET_OPTION_RECEIVE_TIMEOUT

}  // namespace web::wininet
