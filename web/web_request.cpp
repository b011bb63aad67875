#include "web/web_request.h"

#include "web/web_dll.h"
#include "web/wininet_numbers.h"
#include "web/rules.h"

namespace web {

const char kDefaultUserAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

namespace {

using namespace wininet;

constexpr int32_t kLargestPort = 65535;
// Reads of up to 256 KB: WinINet's cost is per call, so 1 KB reads held a
// large reply to a fifth of what the connection gives, and 64 KB reads to
// about three quarters of it.
constexpr uint32_t kReadChunk = 0x40000;
constexpr uint32_t kReplyHeaderBuffer = 0x1388;
// A body beyond this is refused: a reply that never ends must not take the
// process's memory (or end on the fatal path when a block cannot grow).
constexpr uint32_t kMaxReplyBytes = 64u << 20;

// The one-of-eight choice of the verb; its index runs from 1.
const char* ChooseVerb(int32_t index) {
  static const char* const kVerbs[8] = {"GET",     "POST",   "HEAD",  "PUT",
                                        "OPTIONS", "DELETE", "TRACE", "CONNECT"};
  if (index < 1 || index > 8) prog::RaiseRuntimeError(9);
  return kVerbs[index - 1];
}

// A WinINet handle (HINTERNET as the word the DLL commands pass), closed
// through the DLL command table. Declared outermost first, so they close
// innermost first.
void CloseInternetHandle(uint32_t h) { prog::CallDll(kInternetCloseHandle, {h}); }
using InternetHandle = rt::UniqueOf<uint32_t, CloseInternetHandle>;

// A variable of the caller when supplied, else one of our own.
template <typename T>
T& VariableOr(T* supplied, T& local) {
  return supplied ? *supplied : local;
}

// User agent: the value of a "User-Agent:" line, else the text after the
// first colon of the whole block, else the default.
OwnedText UserAgent(const char* headers) {
  if (Find(headers, "User-Agent:", 0, true) == -1) return CopyOf(kDefaultUserAgent);
  OwnedText block = Concat({headers, "\r\n"});
  OwnedText between = TextBetween(Or(block), "User-Agent:", "\r\n");
  OwnedText agent = Trim(Or(between));
  if (Empty(agent)) agent = TextAfterColon(headers);
  return agent;
}

void AddDefaultHeaders(OwnedText& headers, const char* url, int32_t method) {
  if (Empty(headers)) headers = Concat({"Accept: */*"});
  if (Find(Or(headers), "Accept:", 0, true) == -1) Append(headers, {"\r\nAccept: */*"});
  if (Find(Or(headers), "Referer:", 0, true) == -1) Append(headers, {"\r\nReferer: ", url});
  if (Find(Or(headers), "Accept-Language:", 0, true) == -1)
    Append(headers, {"\r\nAccept-Language: zh-cn"});
  if (method == 1 && Find(Or(headers), "Content-Type:", 0, true) == -1)
    Append(headers, {"\r\nContent-Type: application/x-www-form-urlencoded"});
}

// Cookies go on a Cookie line. When the block already has one (a line
// starting "Cookie:", exact case), the cookies join it: a second Cookie
// line, or a line without a name, is not something a server should get.
void AddCookieLine(OwnedText& headers, const char* cookies) {
  const char* h = Or(headers);
  int32_t line = -1;
  OwnedText head = Left(h, 7);
  if (Same(head.get(), "Cookie:")) {
    line = 1;
  } else {
    int32_t p = Find(h, "\r\nCookie:");
    if (p != -1) line = p + 2;
  }
  if (line == -1) {
    Append(headers, {"\r\nCookie: ", cookies});
    return;
  }
  const int32_t len = Len(h), value_start = line + 7;
  int32_t end = Find(h, "\r\n", value_start);
  if (end == -1) end = len + 1;
  OwnedText before = Left(h, line - 1);
  OwnedText raw_value = Mid(h, value_start, end - value_start);
  OwnedText value = Trim(Or(raw_value));
  OwnedText after = Right(h, len - end + 1);
  if (Empty(value))
    headers = Concat({Or(before), "Cookie: ", cookies, Or(after)});
  else
    headers = Concat({Or(before), "Cookie: ", Or(value), "; ", cookies, Or(after)});
}

// The reply body, read until a read yields nothing, straight into a block
// sized once from the reply's announced length (and one byte more, for the
// read that finds the end) and doubled whenever it is full: linear time for
// any body, one copy of each byte. A body over kMaxReplyBytes gives an empty
// result, as a failed exchange does.
OwnedBytes ReadBody(uint32_t request) {
  uint32_t announced = 0, size = sizeof announced;
  // An announcement only sizes the block (a server may announce more than
  // it sends); one beyond the largest body taken is not believed.
  const uint32_t level = kQueryContentLength | kQueryFlagNumber;
  if (!prog::CallDll(kHttpQueryInfoA, {request, level, W(&announced), W(&size), 0}) ||
      announced > kMaxReplyBytes)
    announced = 0;
  rt::ByteSetBlock* body = nullptr;
  uint32_t capacity = 0, total = 0;  // total <= kMaxReplyBytes at the top of the loop
  for (;;) {
    if (total == capacity) {
      uint32_t wanted = capacity ? capacity * 2 : announced ? announced + 1 : kReadChunk;
      if (wanted > kMaxReplyBytes + 1) wanted = kMaxReplyBytes + 1;
      body = static_cast<rt::ByteSetBlock*>(prog::Reallocate(body, rt::kByteSetHeader + wanted));
      capacity = wanted;
    }
    const uint32_t room = capacity - total < kReadChunk ? capacity - total : kReadChunk;
    uint32_t read = 0;
    prog::CallDll(kInternetReadFile, {request, W(body->data + total), room, W(&read)});
    if (read == 0) break;
    total += read > room ? room : read;  // never trust a count beyond the room
    if (total > kMaxReplyBytes) {
      prog::Free(body);
      return OwnedBytes();
    }
  }
  if (total == 0) {
    prog::Free(body);
    return OwnedBytes();
  }
  body = static_cast<rt::ByteSetBlock*>(prog::Reallocate(body, rt::kByteSetHeader + total));
  body->dims = 1;
  body->length = static_cast<int32_t>(total);
  return OwnedBytes(body);
}

// The raw reply header block. A block longer than the first buffer is
// asked for again at the size the query reports; a failed query gives an
// empty text rather than the blank buffer.
OwnedText ReplyHeaders(uint32_t request) {
  uint32_t size = kReplyHeaderBuffer;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const uint32_t capacity = size;
    OwnedText buffer = Spaces(static_cast<int32_t>(capacity));
    uint32_t ok = prog::CallDll(kHttpQueryInfoA,
                                {request, kQueryRawHeadersCrlf, W(buffer.get()), W(&size), 0});
    if (ok) return CopyOf(Or(buffer));
    if (size <= capacity || size > 0x1000000u) break;
    size += 1;  // room for the terminator whether or not the count held it
  }
  return OwnedText();
}

OwnedText CookiesOfReply(const char* reply_headers) {
  TextList lines = Split(reply_headers, "\r\n");
  OwnedText cookies;
  for (int32_t i = 0; i < lines.size(); ++i) {
    const char* line = Or(lines[i]);
    OwnedText name = TextBefore(line, ": ");
    if (!Same(name.get(), "Set-Cookie")) continue;
    OwnedText item;
    if (Find(line, ";") != -1) {
      OwnedText pair = TextBetween(line, "Set-Cookie:", ";");
      item = Trim(Or(pair));
    } else {
      OwnedText stripped = Replace(line, "Set-Cookie:", "", false);
      item = Trim(Or(stripped));
    }
    Append(cookies, {Or(item), "; "});
  }
  return Left(Or(cookies), Len(cookies) - 2);
}

}  // namespace

uint32_t OpenRequestFlags(bool secure, bool cookies_supplied, bool no_redirect) {
  uint32_t flags = kFlagReload | kFlagNeedFile;
  if (cookies_supplied) flags |= kFlagNoCookies;
  if (no_redirect) flags |= kFlagNoAutoRedirect;
  flags |= secure ? kFlagSecure : kFlagIgnoreRedirectToHttps;
  return flags;
}

OwnedBytes WebRequest(const char* url, const WebRequestParams& params) {
  url = Or(url);
  OwnedText local_headers, local_cookies, local_returned_cookies, local_returned_headers;
  OwnedBytes local_post_bytes;
  OwnedText& headers = VariableOr(params.headers, local_headers);
  OwnedText& cookies = VariableOr(params.cookies, local_cookies);
  OwnedBytes& post_bytes = VariableOr(params.post_bytes, local_post_bytes);
  const bool cookies_supplied = params.cookies != nullptr;

  // The verb and the scheme.
  int32_t method = params.method.value_or(0);
  if (method < 0 || method > 7) method = 0;
  const char* verb = ChooseVerb(method + 1);
  OwnedText scheme = Left(url, 8);
  OwnedText scheme_lower = Lower(Or(scheme));
  const bool secure = Same(scheme_lower.get(), "https://");

  // The user agent and the root handle.
  OwnedText agent = UserAgent(Or(headers));
  InternetHandle root;
  if (Empty(params.proxy)) {
    root.reset(prog::CallDll(kInternetOpenA, {W(Or(agent)), kOpenTypeDirect, 0, 0, 0}));
  } else {
    OwnedText proxy = secure ? CopyOf(params.proxy) : Concat({"http=", params.proxy});
    root.reset(prog::CallDll(kInternetOpenA, {W(Or(agent)), kOpenTypeProxy, W(Or(proxy)), W(""), 0}));
  }
  if (!root) return OwnedBytes();

  // The connection. A port WinINet cannot take is a failed connection, not
  // a port cut to 16 bits.
  OwnedText host = UrlHost(url);
  const int32_t port = UrlPort(url);
  InternetHandle connection;
  if (port >= 0 && port <= kLargestPort)
    connection.reset(prog::CallDll(kInternetConnectA, {root.get(), W(Or(host)), static_cast<uint32_t>(port),
                                                       0, 0, kServiceHttp, 0, 0}));
  if (!connection) return OwnedBytes();

  // The request handle.
  const uint32_t flags = OpenRequestFlags(secure, cookies_supplied, params.no_redirect.value_or(false));
  OwnedText path = UrlPath(url);
  InternetHandle request(prog::CallDll(
      kHttpOpenRequestA, {connection.get(), W(verb), W(Or(path)), W("HTTP/1.1"), 0, 0, flags, 0}));
  if (!request) return OwnedBytes();

  // The header block.
  if (params.add_default_headers.value_or(true)) AddDefaultHeaders(headers, url, method);
  if (params.normalize_header_names.value_or(true)) headers = NormalizeHeaderNames(Or(headers));
  if (!Empty(cookies)) AddCookieLine(headers, Or(cookies));
  const uint32_t header_ptr = Empty(headers) ? 0 : W(headers.get());
  const uint32_t header_len = static_cast<uint32_t>(Len(headers));

  // Send; its result is not examined (a failure reads as no body).
  if (method == 0) {
    prog::CallDll(kHttpSendRequestText, {request.get(), header_ptr, header_len, W(""), 0});
  } else {
    if (BytesLen(post_bytes.get()) == 0) post_bytes = TextToBytes(params.post_text);
    const rt::ByteSetBlock* body = post_bytes.get();
    const uint32_t body_len = static_cast<uint32_t>(BytesLen(body));
    prog::CallDll(kHttpSendRequestBytes,
                  {request.get(), header_ptr, header_len, body_len ? W(body->data) : 0, body_len});
  }

  // The body and the reply headers; then the handles, closed innermost first.
  OwnedBytes reply = ReadBody(request.get());
  OwnedText reply_headers = ReplyHeaders(request.get());
  request.reset();
  connection.reset();
  root.reset();

  // The cookies the reply set, merged with the ones sent.
  OwnedText returned_cookies = CookiesOfReply(Or(reply_headers));
  if (params.merge_cookies.value_or(true) && cookies_supplied)
    returned_cookies = MergeCookies(cookies, returned_cookies);
  if (params.returned_cookies) *params.returned_cookies = std::move(returned_cookies);
  if (params.returned_headers) *params.returned_headers = std::move(reply_headers);
  return reply;
}

OwnedText WebGetText(const char* url) {
  OwnedBytes body = WebRequest(url);
  return BytesToText(body.get());
}

}  // namespace web
