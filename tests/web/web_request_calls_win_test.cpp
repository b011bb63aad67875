// The web request's external calls, seen by stand-in WinINet functions that
// the test binds in place of the real ones: arguments, flags, order, and
// the early exits.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/image.h"
#include "runtime/dll/dll_commands.h"
#include "web/dll_table.h"
#include "web/web_request.h"

namespace {

using web::OwnedBytes;
using web::OwnedText;

std::string Str(uint32_t p) { return p ? std::string(reinterpret_cast<const char*>(p)) : "<null>"; }

struct Fake {
  uint32_t root = 0x100, connection = 0x200, request = 0x300;
  std::vector<std::string> calls;
  std::vector<std::string> body_chunks;
  std::string reply_headers = "HTTP/1.1 200 OK\r\nSet-Cookie: k=v; path=/\r\n\r\n";
  size_t next_chunk = 0;
} g;

uint32_t __stdcall FakeOpen(uint32_t agent, uint32_t access, uint32_t proxy, uint32_t bypass, uint32_t flags) {
  g.calls.push_back("open " + Str(agent) + " " + std::to_string(access) + " " + Str(proxy) + " " +
                    Str(bypass) + " " + std::to_string(flags));
  return g.root;
}
uint32_t __stdcall FakeClose(uint32_t h) {
  g.calls.push_back("close " + std::to_string(h));
  return 1;
}
uint32_t __stdcall FakeConnect(uint32_t root, uint32_t host, uint32_t port, uint32_t user, uint32_t pass,
                               uint32_t service, uint32_t flags, uint32_t context) {
  g.calls.push_back("connect " + std::to_string(root) + " " + Str(host) + " " + std::to_string(port) + " " +
                    Str(user) + " " + Str(pass) + " " + std::to_string(service) + " " +
                    std::to_string(flags) + " " + std::to_string(context));
  return g.connection;
}
uint32_t __stdcall FakeOpenRequest(uint32_t conn, uint32_t verb, uint32_t path, uint32_t version,
                                   uint32_t referrer, uint32_t accept, uint32_t flags, uint32_t context) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", flags);
  g.calls.push_back("request " + std::to_string(conn) + " " + Str(verb) + " " + Str(path) + " " +
                    Str(version) + " " + Str(referrer) + " " + Str(accept) + " " + hex + " " +
                    std::to_string(context));
  return g.request;
}
std::string Send(const char* entry, uint32_t req, uint32_t headers, uint32_t len, uint32_t body, uint32_t n) {
  std::string h = headers ? std::string(reinterpret_cast<const char*>(headers), len) : "<null>";
  std::string b = body ? std::string(reinterpret_cast<const char*>(body), n) : "<null>";
  return std::string(entry) + " " + std::to_string(req) + " [" + h + "] " + std::to_string(len) + " [" + b +
         "] " + std::to_string(n);
}
uint32_t __stdcall FakeSendText(uint32_t req, uint32_t headers, uint32_t len, uint32_t body, uint32_t n) {
  g.calls.push_back(Send("send4", req, headers, len, body, n));
  return 1;
}
uint32_t __stdcall FakeSendBytes(uint32_t req, uint32_t headers, uint32_t len, uint32_t body, uint32_t n) {
  g.calls.push_back(Send("send5", req, headers, len, body, n));
  return 1;
}
uint32_t __stdcall FakeRead(uint32_t, uint32_t buffer, uint32_t size, uint32_t read) {
  auto* count = reinterpret_cast<uint32_t*>(read);
  *count = 0;
  if (g.next_chunk < g.body_chunks.size()) {
    const std::string& c = g.body_chunks[g.next_chunk++];
    std::memcpy(reinterpret_cast<void*>(buffer), c.data(), c.size());
    *count = static_cast<uint32_t>(c.size());
  }
  g.calls.push_back("read " + std::to_string(size) + " -> " + std::to_string(*count));
  return 1;
}
uint32_t __stdcall FakeQuery(uint32_t, uint32_t level, uint32_t buffer, uint32_t size, uint32_t index) {
  auto* n = reinterpret_cast<uint32_t*>(size);
  g.calls.push_back("query " + std::to_string(level) + " " + std::to_string(*n) + " " + Str(index));
  const uint32_t need = static_cast<uint32_t>(g.reply_headers.size());
  if (*n <= need) {
    *n = need + 1;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(reinterpret_cast<void*>(buffer), g.reply_headers.c_str(), need + 1);
  *n = need;
  return 1;
}

void* FakeResolver(uint32_t index) {
  switch (index) {
    case web::kInternetOpenA: return reinterpret_cast<void*>(&FakeOpen);
    case web::kInternetCloseHandle: return reinterpret_cast<void*>(&FakeClose);
    case web::kInternetConnectA: return reinterpret_cast<void*>(&FakeConnect);
    case web::kHttpOpenRequestA: return reinterpret_cast<void*>(&FakeOpenRequest);
    case web::kHttpSendRequestText: return reinterpret_cast<void*>(&FakeSendText);
    case web::kHttpSendRequestBytes: return reinterpret_cast<void*>(&FakeSendBytes);
    case web::kInternetReadFile: return reinterpret_cast<void*>(&FakeRead);
    case web::kHttpQueryInfoA: return reinterpret_cast<void*>(&FakeQuery);
    default: return rt::ResolveDllCommand(index);
  }
}

class WebRequestCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Fake();
    rt::SetDllResolver(&FakeResolver);
  }
  void TearDown() override { rt::SetDllResolver(&rt::ResolveDllCommand); }
};

const std::string kUa = web::kDefaultUserAgent;

TEST_F(WebRequestCalls, GetTextMakesTheDocumentedCalls) {
  g.body_chunks = {std::string(1024, 'a'), std::string(1024, 'b'), "tail"};
  OwnedText text = web::WebGetText("http://host/getSysTime.do");
  EXPECT_EQ(std::string(text.get()), std::string(1024, 'a') + std::string(1024, 'b') + "tail");
  const std::vector<std::string> want = {
      "open " + kUa + " 1 <null> <null> 0",
      "connect 256 host 80 <null> <null> 3 0 0",
      "request 512 GET /getSysTime.do HTTP/1.1 <null> <null> 80004010 0",
      "send4 768 [Accept: */*\r\nReferer: http://host/getSysTime.do\r\nAccept-Language: zh-cn] 71 [] 0",
      "read 1024 -> 1024", "read 1024 -> 1024", "read 1024 -> 4", "read 1024 -> 0",
      "query 22 5000 <null>",
      "close 768", "close 512", "close 256",
  };
  EXPECT_EQ(g.calls, want);
}

TEST_F(WebRequestCalls, FlagsPortsAndProxies) {
  struct Case {
    const char* url;
    bool cookies, no_redirect;
    const char* proxy;
    const char* open;
    const char* connect;
    const char* flags;
  };
  const Case cases[] = {
      {"http://h/", false, false, nullptr, " 1 <null> <null> 0", "connect 256 h 80", "80004010"},
      {"HTTPS://h/", false, false, nullptr, " 1 <null> <null> 0", "connect 256 h 443", "80800010"},
      {"http://h/", true, false, nullptr, " 1 <null> <null> 0", "connect 256 h 80", "80084010"},
      {"http://h/", false, true, nullptr, " 1 <null> <null> 0", "connect 256 h 80", "80204010"},
      {"https://h:8443/", true, true, nullptr, " 1 <null> <null> 0", "connect 256 h 8443", "80A80010"},
      {"http://h:81/", false, false, "p:8080", " 3 http=p:8080  0", "connect 256 h 81", "80004010"},
      {"https://h/", false, false, "p:8080", " 3 p:8080  0", "connect 256 h 443", "80800010"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    g = Fake();
    OwnedText cookies;
    web::WebRequestParams p;
    if (c.cookies) p.cookies = &cookies;
    p.no_redirect = c.no_redirect;
    p.proxy = c.proxy;
    web::WebRequest(c.url, p);
    ASSERT_GE(g.calls.size(), 3u);
    EXPECT_EQ(g.calls[0], "open " + kUa + c.open);
    EXPECT_EQ(g.calls[1].compare(0, std::strlen(c.connect) + 1, std::string(c.connect) + " "), 0) << g.calls[1];
    EXPECT_NE(g.calls[2].find(std::string(" ") + c.flags + " "), std::string::npos) << g.calls[2];
  }
}

TEST_F(WebRequestCalls, EarlyFailuresCloseWhatWasOpened) {
  struct Case {
    uint32_t root, connection, request;
    std::vector<std::string> tail;  // calls after the failing one
  };
  const Case cases[] = {
      {0, 0x200, 0x300, {}},
      {0x100, 0, 0x300, {"close 256"}},
      {0x100, 0x200, 0, {"close 512", "close 256"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail.size());
    g = Fake();
    g.root = c.root;
    g.connection = c.connection;
    g.request = c.request;
    OwnedText headers = web::CopyOf("x: 1"), returned = web::CopyOf("old");
    web::WebRequestParams p;
    p.headers = &headers;
    p.returned_cookies = &returned;
    OwnedBytes body = web::WebRequest("http://h/", p);
    EXPECT_EQ(body.get(), nullptr);
    ASSERT_EQ(g.calls.size(), c.tail.size() + c.tail.size() + 1);
    EXPECT_EQ(std::vector<std::string>(g.calls.end() - static_cast<long>(c.tail.size()), g.calls.end()), c.tail);
    EXPECT_STREQ(headers.get(), "x: 1");
    EXPECT_STREQ(returned.get(), "old");
  }
}

TEST_F(WebRequestCalls, PostBodyEmptyHeadersAndLongReplyHeaders) {
  g.reply_headers = "HTTP/1.1 200 OK\r\nX: " + std::string(6000, 'x') + "\r\nSet-Cookie: k=v\r\n\r\n";
  OwnedText headers, reply_headers, returned;
  OwnedBytes post_bytes;
  web::WebRequestParams p;
  p.method = 1;
  p.post_text = "x=1";
  p.post_bytes = &post_bytes;
  p.headers = &headers;
  p.add_default_headers = false;
  p.returned_headers = &reply_headers;
  p.returned_cookies = &returned;
  web::WebRequest("http://h/p", p);
  ASSERT_GE(g.calls.size(), 4u);
  EXPECT_EQ(g.calls[3], "send5 768 [<null>] 0 [x=1] 3");
  ASSERT_NE(post_bytes.get(), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(post_bytes.get()->data), 3), "x=1");
  EXPECT_EQ(std::string(reply_headers.get()), g.reply_headers);
  EXPECT_STREQ(returned.get(), "k=v");
  // Asked again at the reported size (plus room for the terminator).
  const std::string again = "query 22 " + std::to_string(g.reply_headers.size() + 2) + " <null>";
  EXPECT_NE(std::find(g.calls.begin(), g.calls.end(), again), g.calls.end());
}

TEST_F(WebRequestCalls, FailedHeaderQueryGivesEmptyHeaders) {
  g.reply_headers = std::string(0x2000000, 'h');  // refused: larger than any re-query allows
  OwnedText reply_headers = web::CopyOf("old");
  web::WebRequestParams p;
  p.returned_headers = &reply_headers;
  web::WebRequest("http://h/", p);
  EXPECT_EQ(reply_headers.get(), nullptr);
}

}  // namespace
