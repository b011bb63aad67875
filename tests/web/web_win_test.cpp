// The web client under Wine: stand-in body reads, loopback server traffic, code-page conversion, DLL binding.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/web/web_test_support.h"  // the program set-up, the child runner and the web request
#include "web/codepage.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using prog::OwnedBytes, prog::OwnedText, webtest::B, webtest::S;
const std::string kUa = web::kDefaultUserAgent;

// Stand-in WinINet: reads from chunks, at most the size asked; a length announced or none.
std::vector<std::string> g_chunks;
int64_t g_announced = -1;  // the Content-Length announced; -1: none

template <typename... A>
uint32_t __stdcall Handle(A...) { return 0x100; }
uint32_t __stdcall Read(uint32_t, uint32_t buffer, uint32_t size, uint32_t read) {
  auto* count = reinterpret_cast<uint32_t*>(read);
  *count = g_chunks.empty() ? 0 : std::min(size, static_cast<uint32_t>(g_chunks[0].size()));
  if (*count) std::memcpy(reinterpret_cast<void*>(buffer), g_chunks[0].data(), *count), g_chunks[0].erase(0, *count);
  if (!g_chunks.empty() && g_chunks[0].empty()) g_chunks.erase(g_chunks.begin());
  return 1;
}
uint32_t __stdcall Query(uint32_t, uint32_t level, uint32_t buffer, uint32_t, uint32_t) {
  // The announced length, or no such header; reply headers are never had.
  if (level != (HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER) || g_announced < 0)
    return SetLastError(ERROR_HTTP_HEADER_NOT_FOUND), 0;
  return *reinterpret_cast<uint32_t*>(buffer) = static_cast<uint32_t>(g_announced), 1;
}
void* Resolve(uint32_t index) {
  using P = void*; using U = uint32_t;
  static const P fakes[] = {P(&Handle<U, U, U, U, U>), P(&Handle<U>), P(&Handle<U, U, U, U, U, U, U, U>),
      P(&Handle<U, U, U, U, U, U, U, U>), P(&Handle<U, U, U, U, U>), P(&Handle<U, U, U, U, U>), P(&Read), P(&Query)};
  return index < 8 ? fakes[index] : rt::RequireDllCommand(index);
}

TEST(WebRequestReads, BodiesComeWholeWhateverTheAnnouncedLength) {
  // Every byte the reads give, whatever length is announced (one over 64 MB is not believed: no gigabyte up front).
  webtest::LoadProgramDllTable();
  rt::Hooks().resolve_dll = &Resolve;
  const std::vector<std::string> pieces = {std::string(300000, 'a'), "b", std::string(70000, 'c')};
  const int64_t whole = 370001;
  for (int64_t announced : {int64_t{-1}, int64_t{0}, int64_t{1}, whole, whole - 5, int64_t{1} << 30,
                            int64_t{0xFFFFFFFF}}) {
    SCOPED_TRACE(announced);
    g_chunks = pieces, g_announced = announced;
    EXPECT_EQ(B(web::WebRequest("http://host/big")), pieces[0] + pieces[1] + pieces[2]);
  }
  rt::Hooks().resolve_dll = &rt::RequireDllCommand;
}

class WebRequest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { webtest::LoadProgramDllTable(), server_ = new webtest::LoopbackServer(); }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override {  // WinINet keeps a reply's cookies per host: each test starts without the cookie test's
    ASSERT_TRUE(server_->ok()) << "test server did not start";
    InternetSetCookieA("http://127.0.0.1/", "a", "1; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT");
  }
  static std::string Url(const std::string& path) { return server_->Url(path); }
  static std::string Last() { return server_->Get("/_last"); }
  // The request line and the two lines Wine's WinINet puts first.
  static std::string Start(const std::string& line, const std::string& agent = kUa) {
    return line + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_->port()) + "\r\nUser-Agent: " + agent + "\r\n";
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

// The reply's 8 KB of headers come back raw (beyond the first buffer), its cookies collected.
TEST_F(WebRequest, CookiesOfTheReplyAreCollectedAndMerged) {
  struct Case { const char *cookies, *headers; bool merge; const char *cookie_line, *returned, *after; };
  const Case cases[] = {
      {nullptr, "", true, "<none>", "a=1; b=2; gone=deleted", ""},
      {"b=9; s=1", "", true, "b=9; s=1", "a=1; b=2; s=1", "a=1; b=2; s=1"},
      {"b=9; s=1", "", false, "b=9; s=1", "a=1; b=2; gone=deleted", "b=9; s=1"},
      {"s=1", "Cookie: x=1\r\nX-B: 2", true, "x=1; s=1", "a=1; b=2; s=1", "a=1; b=2; s=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cookies ? c.cookies : "(not supplied)") + " | " + c.headers);
    OwnedText cookies = web::CopyOf(c.cookies ? c.cookies : ""), returned, headers = web::CopyOf(c.headers), reply;
    const web::WebRequestParams params{.cookies = c.cookies ? &cookies : nullptr, .returned_cookies = &returned,
                                       .headers = &headers, .returned_headers = &reply, .merge_cookies = c.merge};
    EXPECT_EQ(B(web::WebRequest(Url("/cookies").c_str(), params)), "ok");
    EXPECT_EQ(S(returned), c.returned);
    EXPECT_EQ(S(cookies), c.after);
    EXPECT_EQ(Header(Last(), "Cookie"), c.cookie_line);
    EXPECT_GT(S(reply).size(), 8000u);
    EXPECT_NE(S(reply).find("\r\nSet-Cookie: b=2\r\n"), std::string::npos);
    EXPECT_EQ(S(reply).rfind("\r\n\r\n"), S(reply).size() - 4);
  }
}

// The server is the proxy too: a secure request asks it for a tunnel, refused with a 404.
TEST_F(WebRequest, BodiesComeBackWholeThroughProxiesAndRedirects) {
  const std::string proxy = "127.0.0.1:" + std::to_string(server_->port());
  struct Case { std::string url; const char* proxy; bool no_redirect; std::string body; const char* request; };
  const Case cases[] = {
      {Url("/text?b=AB%00CD%00%FF%FE"), nullptr, false, std::string("AB\0CD\0\xff\xfe", 8), "GET /text?b=AB"},
      {Url("/text"), nullptr, false, "", "GET /text "},
      {Url("/text?code=404&b=status"), nullptr, false, "status", "GET /text?code=404"},
      {"http://proxied.invalid/text?b=p", proxy.c_str(), false, "p", "GET http://proxied.invalid"},
      {"https://proxied.invalid/x", proxy.c_str(), false, "no such path", "CONNECT proxied.invalid:443 "},
      {Url("/redirect"), nullptr, false, "moved", "GET /text?b=moved "},
      {Url("/redirect"), nullptr, true, "here", "GET /redirect "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    OwnedBytes body = web::WebRequest(c.url.c_str(), {.no_redirect = c.no_redirect, .proxy = c.proxy});
    EXPECT_EQ(B(body), c.body);
    EXPECT_EQ(body.get() == nullptr, c.body.empty());
    const std::string last = Last();
    EXPECT_EQ(last.rfind(c.request, 0), 0u) << last;
  }
}

TEST_F(WebRequest, FailuresGiveEmptyResults) {
  const std::pair<std::string, bool> cases[] = {  // url, whether the request handle was obtained
      {"http://127.0.0.1:1/x", true},  // nothing listens there
      {"http://127.0.0.1:99999/x", false},
      {"http://127.0.0.1:65616/x", false},  // 80 + 65536: must not become port 80
      {"", false},
  };
  for (const auto& [url, reached] : cases) {
    SCOPED_TRACE(url);
    OwnedText headers = web::CopyOf("x-a: 1"), cookies = web::CopyOf("c=1"), returned = web::CopyOf("old"),
              reply = web::CopyOf("old");
    EXPECT_EQ(web::WebRequest(url.c_str(), {.cookies = &cookies, .returned_cookies = &returned,
                                            .headers = &headers, .returned_headers = &reply}).get(), nullptr);
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

int Unit(const OwnedBytes& b, int i) { return b.get()->data[2 * i] | b.get()->data[2 * i + 1] << 8; }

// Through DLL entries 8 and 9; the ANSI code page is 936.
TEST(CodePage, Utf8AnsiAndUtf16WithoutRunningShortOrPast) {
  webtest::LoadProgramDllTable();
  EXPECT_EQ(S(web::Utf8ToAnsi("\xE4\xB8\xAD")), "\xD6\xD0");
  EXPECT_EQ(S(web::Utf8ToAnsi("\xF0\x9F\x98\x80")), "??");  // not in GBK
  EXPECT_EQ(web::Utf8ToAnsi(static_cast<const char*>(nullptr)).get(), nullptr);
  OwnedBytes units = web::MultiByteToUtf16("\xD6\xD0", 936);
  ASSERT_NE(units.get(), nullptr);
  EXPECT_EQ(Unit(units, 0), 0x4E2D);
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get())), "\xD6\xD0");
  EXPECT_EQ(S(web::Utf16ToMultiByte(units.get(), 65001)), "\xE4\xB8\xAD");
  EXPECT_EQ(web::Utf16ToMultiByte(nullptr).get(), nullptr);
  units = web::MultiByteToUtf16("\xFF\xFE\xD6\xD0" "abc\xE4\xB8");  // each invalid byte one unit: more than counted
  ASSERT_NE(units.get(), nullptr);
  const int32_t n = units.get()->length;
  ASSERT_GE(n, 2);
  EXPECT_EQ(Unit(units, n / 2 - 1), 0) << "ends with a zero unit";
  EXPECT_EQ(Unit(web::MultiByteToUtf16("\xD6\xD0"), 0), 0xFFFD);
  // UTF-16 stops at the zero unit, or at the block's end (never past it).
  EXPECT_EQ(S(web::Utf16ToMultiByte(webtest::Bytes(std::string("A\0\0\0B\0", 6)).get())), "A");
  EXPECT_EQ(S(web::Utf16ToMultiByte(webtest::Bytes(std::string("a\0b\0c\0d\0e\0f\0g", 13)).get())), "abcdef");
}

// DLL commands bound by ordinal and, in a child whose error box is read, the fatal endings.
TEST(DllBinding, EntriesBindByOrdinal) {
  webtest::LoadProgramDllTable();
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  void* want = reinterpret_cast<void*>(GetProcAddress(kernel, MAKEINTRESOURCEA(100)));
  ASSERT_NE(want, nullptr);
  static const char* libs[] = {"kernel32.dll", "C:\\windows\\system32\\kernel32.dll"};
  static const char* funcs[] = {"#100", "#65636"};  // a hash name binds by the ordinal of its low 16 bits
  rt::LoadDllCommandTable(2, libs, funcs);
  EXPECT_EQ(rt::RequireDllCommand(0), want);
  EXPECT_EQ(rt::RequireDllCommand(1), want);
  rt::LoadDllCommandTable(app::kDllCommandCount, app::kDllLibraryNames, app::kDllFunctionNames);  // for later tests
}

TEST(DllBindingChild, TwoEntriesOfOneLibraryHoldTwoReferences) {
  EXPECT_EQ(testsupport::RunChild("web_dll_child.exe", "twice", false).exit_code, 0u);
}

// (A stack mismatch after a call: FatalPath in entry_table_win_tests.)
TEST(DllBindingChild, UnbindableEntriesEndTheProgramNamingWhatIsMissing) {
  struct Case { const char *mode, *library, *function; };  // library: null when the entry names none
  const Case cases[] = {{"missing", "kernel32.dll", "NoSuchExport"}, {"missing_any", nullptr, "NoSuchExport"},
                        {"nolib", "no_such_library.dll", "#5"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    testsupport::ChildResult r = testsupport::RunChild("web_dll_child.exe", c.mode, true);
    EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
    EXPECT_TRUE(r.had_box);
    const size_t function = r.text.find(c.function), library = c.library ? r.text.find(c.library) : 0;
    EXPECT_NE(function, std::string::npos) << r.text;
    EXPECT_LT(library, function) << r.text;  // the library, when named, before the function
  }
}

}  // namespace
