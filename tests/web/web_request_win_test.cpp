// The web request under Wine: its WinINet calls (seen by stand-ins) and
// what travels to and from the loopback server.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/image.h"
#include "runtime/dll/dll_commands.h"
#include "tests/web/web_test_support.h"
#include "web/web_request.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using prog::OwnedBytes;
using prog::OwnedText;
using webtest::B;
using webtest::S;
const std::string kUa = web::kDefaultUserAgent;

// Stand-in WinINet: how the request opens its root handle, the flags it
// asks for, and a reply whose reads come from chunks and whose length is
// announced or not.
struct Fake {
  std::string open;
  DWORD flags = 0;
  std::vector<std::string> chunks;
  int64_t announced = -1;  // the Content-Length the reply announces; -1: none
} g;

std::string Str(uint32_t p) { return p ? reinterpret_cast<const char*>(p) : "<null>"; }
std::string N(uint32_t v) { return std::to_string(v); }

uint32_t __stdcall Open(uint32_t, uint32_t access, uint32_t proxy, uint32_t bypass, uint32_t flags) {
  g.open = N(access) + " " + Str(proxy) + " " + Str(bypass) + " " + N(flags);
  return 0x100;
}
uint32_t __stdcall Close(uint32_t) { return 1; }
uint32_t __stdcall Connect(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return 0x200; }
uint32_t __stdcall OpenRequest(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t flags, uint32_t) {
  g.flags = flags;
  return 0x300;
}
uint32_t __stdcall Send(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return 1; }
uint32_t __stdcall Read(uint32_t, uint32_t buffer, uint32_t size, uint32_t read) {
  // At most `size` bytes, as WinINet: the rest of a chunk waits for the next read.
  auto* count = reinterpret_cast<uint32_t*>(read);
  *count = g.chunks.empty() ? 0 : std::min(size, static_cast<uint32_t>(g.chunks[0].size()));
  if (*count) std::memcpy(reinterpret_cast<void*>(buffer), g.chunks[0].data(), *count);
  if (*count) g.chunks[0].erase(0, *count);
  if (!g.chunks.empty() && g.chunks[0].empty()) g.chunks.erase(g.chunks.begin());
  return 1;
}
uint32_t __stdcall Query(uint32_t, uint32_t level, uint32_t buffer, uint32_t, uint32_t) {
  // The announced length, or no such header; reply headers are never had.
  if (level != (HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER) || g.announced < 0)
    return SetLastError(ERROR_HTTP_HEADER_NOT_FOUND), 0;
  return *reinterpret_cast<uint32_t*>(buffer) = static_cast<uint32_t>(g.announced), 1;
}
void* Resolve(uint32_t index) {
  using P = void*;
  static const P fakes[] = {P(&Open), P(&Close), P(&Connect), P(&OpenRequest), P(&Send), P(&Send), P(&Read), P(&Query)};
  return index < 8 ? fakes[index] : rt::RequireDllCommand(index);
}

class WebRequestCalls : public ::testing::Test {
 protected:
  void SetUp() override { webtest::LoadProgramDllTable(), g = Fake(), rt::Hooks().resolve_dll = &Resolve; }
  void TearDown() override { rt::Hooks().resolve_dll = &rt::RequireDllCommand; }
};

TEST_F(WebRequestCalls, BodiesComeWholeWhateverTheAnnouncedLength) {
  // The body is every byte the reads give, in order, whether the reply
  // announces its length truly, too short, too long or not at all (one
  // beyond 64 MB is not believed: no gigabyte is taken up front).
  const std::vector<std::string> pieces = {std::string(300000, 'a'), "b", std::string(70000, 'c')};
  std::string whole;
  for (const std::string& p : pieces) whole += p;
  for (int64_t announced : {int64_t{-1}, int64_t{0}, int64_t{1}, static_cast<int64_t>(whole.size()),
                            static_cast<int64_t>(whole.size()) - 5, int64_t{1} << 30, int64_t{0xFFFFFFFF}}) {
    SCOPED_TRACE(announced);
    g = Fake();
    g.chunks = pieces;
    g.announced = announced;
    OwnedBytes body = web::WebRequest("http://host/big");
    EXPECT_EQ(B(body), whole);
  }
}

// What the real server cannot show: the request flags, in WinINet's terms
// (always a fresh reply; secure or no quiet switch to https; the caller's
// own cookies; no redirect), and the proxy.
TEST_F(WebRequestCalls, FlagsAndProxies) {
  const DWORD fresh = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NEED_FILE, secure = fresh | INTERNET_FLAG_SECURE,
              plain = fresh | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  struct Case { const char *url, *proxy; bool cookies, no_redirect; std::string open; DWORD flags; };
  const std::string direct = N(INTERNET_OPEN_TYPE_DIRECT) + " <null> <null> 0", proxy = N(INTERNET_OPEN_TYPE_PROXY);
  const Case cases[] = {
      {"HTTPS://h/", nullptr, false, false, direct, secure},
      {"http://h/", nullptr, true, false, direct, plain | INTERNET_FLAG_NO_COOKIES},
      {"http://h/", nullptr, false, true, direct, plain | INTERNET_FLAG_NO_AUTO_REDIRECT},
      {"https://h:8443/", nullptr, true, true, direct, secure | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT},
      {"http://h:81/", "p:8080", false, false, proxy + " http=p:8080  0", plain},
      {"https://h/", "p:8080", false, false, proxy + " p:8080  0", secure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    g = Fake();
    OwnedText cookies;
    web::WebRequest(c.url, {.cookies = c.cookies ? &cookies : nullptr, .no_redirect = c.no_redirect,
                            .proxy = c.proxy});
    EXPECT_EQ(g.open, c.open);
    EXPECT_EQ(g.flags, c.flags) << std::hex << g.flags;
  }
}

// Against the loopback server.
class WebRequest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { webtest::LoadProgramDllTable(), server_ = new webtest::LoopbackServer(); }
  static void TearDownTestSuite() { delete server_; }
  // WinINet keeps the cookies a reply set (per host, not per port) and sends
  // them with later requests that bring none: each test starts without the
  // one the cookie test leaves, whatever ran before.
  void SetUp() override {
    ASSERT_TRUE(server_->ok()) << "test server did not start";
    InternetSetCookieA("http://127.0.0.1/", "a", "1; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT");
  }
  static std::string Url(const std::string& path) { return server_->Url(path); }
  static std::string Last() { return server_->Get("/_last"); }
  // The request line and the two lines Wine's WinINet puts first.
  static std::string Start(const std::string& line, const std::string& agent = kUa) {
    return line + " HTTP/1.1\r\nHost: 127.0.0.1:" + N(server_->port()) + "\r\nUser-Agent: " + agent + "\r\n";
  }
  static webtest::LoopbackServer* server_;
};
webtest::LoopbackServer* WebRequest::server_ = nullptr;

std::string Header(const std::string& raw, const std::string& name) {
  const size_t at = raw.find("\r\n" + name + ": ") + name.size() + 4;
  return at < name.size() + 4 ? "<none>" : raw.substr(at, raw.find("\r\n", at) - at);
}

TEST_F(WebRequest, PostSendsTheTextOrTheBytesWholeAndWritesThemBack) {
  const std::string url = Url("/echo");
  OwnedBytes post_bytes;
  EXPECT_EQ(B(web::WebRequest(url.c_str(), {.method = 1, .post_text = "x=1", .post_bytes = &post_bytes})), "x=1");
  EXPECT_EQ(B(post_bytes), "x=1");
  std::string raw = Last();
  EXPECT_EQ(Header(raw, "Content-Length"), "3");
  raw.erase(raw.find("Content-Length: 3\r\n"), 19);  // Wine puts it after Host
  EXPECT_EQ(raw, Start("POST /echo") + "Accept: */*\r\nReferer: " + url +
                     "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\nx=1");
  // Bytes win over text, zero bytes included; no form content type then.
  const std::string bytes("a\0b\xff\r\n", 6);
  post_bytes = webtest::Bytes(bytes);
  EXPECT_EQ(B(web::WebRequest(url.c_str(), {.method = 3, .post_text = "ignored", .post_bytes = &post_bytes})), bytes);
  raw = Last();
  EXPECT_EQ(raw.substr(0, 20), "PUT /echo HTTP/1.1\r\n");
  EXPECT_EQ(raw.substr(raw.size() - 10), "\r\n\r\n" + bytes);
  EXPECT_EQ(Header(raw, "Content-Type"), "<none>");
}

TEST_F(WebRequest, HeadersAreCompletedNormalisedAndWrittenBack) {
  const std::string url = Url("/text?b=h"), tail = "Referer: " + url + "\r\nAccept-Language: zh-cn";
  struct Case { const char* headers; bool defaults, normalize; std::string agent, sent; };
  const Case cases[] = {
      {"", true, true, kUa, "Accept: */*\r\n" + tail},  // the default block, byte for byte
      {"user-agent: X", true, true, "X", "User-Agent: X\r\nAccept: */*\r\n" + tail},
      {"x-lower: a\r\nReferer: r", true, false, kUa, "x-lower: a\r\nReferer: r\r\nAccept: */*\r\nAccept-Language: zh-cn"},
      {"User-Agent:  Custom/1 \r\nX-A: b", false, true, "Custom/1", "User-Agent:  Custom/1 \r\nX-A: b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    OwnedText headers = web::CopyOf(c.headers);
    EXPECT_EQ(B(web::WebRequest(url.c_str(), {.headers = &headers, .add_default_headers = c.defaults,
                                              .normalize_header_names = c.normalize})), "h");
    EXPECT_EQ(S(headers), c.sent);
    // WinINet leaves out the caller's User-Agent line: it sent one already.
    std::string sent = c.sent.empty() ? "" : c.sent + "\r\n";
    if (sent.rfind("User-Agent:", 0) == 0) sent.erase(0, sent.find("\r\n") + 2);
    EXPECT_EQ(Last(), Start("GET /text?b=h", c.agent) + sent + "\r\n");
  }
}

TEST_F(WebRequest, CookiesOfTheReplyAreCollectedAndMerged) {
  struct Case { const char *cookies, *headers; bool merge; const char *cookie_line, *returned, *after; };
  const Case cases[] = {
      {nullptr, "", true, "<none>", "a=1; b=2; gone=deleted", ""},
      {"", "", true, "<none>", "a=1; b=2", "a=1; b=2"},
      {"b=9; s=1", "", true, "b=9; s=1", "a=1; b=2; s=1", "a=1; b=2; s=1"},
      {"b=9; s=1", "", false, "b=9; s=1", "a=1; b=2; gone=deleted", "b=9; s=1"},
      {"s=1", "Cookie: x=1\r\nX-B: 2", true, "x=1; s=1", "a=1; b=2; s=1", "a=1; b=2; s=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cookies ? c.cookies : "(not supplied)") + " | " + c.headers);
    OwnedText cookies = web::CopyOf(c.cookies ? c.cookies : ""), returned, headers = web::CopyOf(c.headers);
    EXPECT_EQ(B(web::WebRequest(Url("/cookies").c_str(), {.cookies = c.cookies ? &cookies : nullptr,
                                                          .returned_cookies = &returned, .headers = &headers,
                                                          .merge_cookies = c.merge})), "ok");
    EXPECT_EQ(S(returned), c.returned);
    EXPECT_EQ(S(cookies), c.after);
    EXPECT_EQ(Header(Last(), "Cookie"), c.cookie_line);
  }
}

TEST_F(WebRequest, ReplyHeadersComeBackRawEvenBeyond5000Bytes) {
  OwnedText headers, cookies;
  EXPECT_EQ(B(web::WebRequest(Url("/bigheaders").c_str(), {.returned_cookies = &cookies, .returned_headers = &headers})),
            "big");
  const std::string h = S(headers);
  EXPECT_GT(h.size(), 8000u);
  EXPECT_NE(h.find("\r\nSet-Cookie: late=1\r\n"), std::string::npos);
  EXPECT_EQ(h.substr(h.size() - 4), "\r\n\r\n");
  EXPECT_EQ(S(cookies), "late=1");
}

TEST_F(WebRequest, BodiesComeBackWhole) {
  struct Case { const char* path; std::string body, text; };  // text: as WebGetText gives it
  const Case cases[] = {
      {"/text?b=AB%00CD%00%FF%FE", std::string("AB\0CD\0\xff\xfe", 8), "AB"},
      {"/text", "", ""},
      {"/text?code=404&b=status", "status", "status"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    OwnedBytes body = web::WebRequest(Url(c.path).c_str());
    EXPECT_EQ(B(body), c.body);
    EXPECT_EQ(body.get() == nullptr, c.body.empty());
    EXPECT_EQ(S(web::WebGetText(Url(c.path).c_str())), c.text);
  }
  const std::string big = B(web::WebRequest(Url("/big?mb=32").c_str()));
  ASSERT_EQ(big.size(), 32u << 20);
  for (uint32_t i = 0; i < big.size(); ++i)
    if (uint8_t(big[i]) != i % 251) return ADD_FAILURE() << "byte " << i;
}

TEST_F(WebRequest, FailuresGiveEmptyResults) {
  const std::pair<std::string, bool> cases[] = {  // url, whether the request handle was obtained
      {"http://127.0.0.1:" + server_->Get("/_closedport") + "/x", true},
      {Url("/close"), true},
      {Url("/silent?s=3"), true},
      {"http://127.0.0.1:99999/x", false},
      {"http://127.0.0.1:65616/x", false},  // 80 + 65536: must not become port 80
      {"", false},
  };
  for (const auto& [url, reached] : cases) {
    SCOPED_TRACE(url);
    OwnedText headers = web::CopyOf("x-a: 1"), cookies = web::CopyOf("c=1"), returned = web::CopyOf("old"),
              reply = web::CopyOf("old");
    const DWORD start = GetTickCount();
    EXPECT_EQ(web::WebRequest(url.c_str(), {.cookies = &cookies, .returned_cookies = &returned,
                                            .headers = &headers, .returned_headers = &reply}).get(), nullptr);
    EXPECT_LT(GetTickCount() - start, 60000u);
    if (reached) {
      EXPECT_EQ(S(headers).rfind("X-A: 1\r\nAcc", 0), 0u) << S(headers);
      // Never the blank query buffer: Wine gives a bare CR LF, Windows fails the query.
      EXPECT_TRUE(S(reply).empty() || S(reply) == "\r\n") << S(reply);
      EXPECT_EQ(S(returned), "c=1");  // nothing came back: merged with what was sent
    } else {
      EXPECT_EQ(S(headers) + S(cookies) + S(returned) + S(reply), "x-a: 1c=1oldold");
    }
  }
}

}  // namespace
