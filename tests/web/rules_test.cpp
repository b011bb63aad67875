// The URL, header and cookie rules, table by table (natively under the
// sanitizers, and on the target).
#include <gtest/gtest.h>

#include <string>

#include "web/rules.h"

namespace {

using web::OwnedText;

std::string S(const OwnedText& t) { return t.get() ? t.get() : ""; }

TEST(TextBetween, CutsBetweenMarkers) {
  struct Case { const char *text, *left, *right; int32_t start; bool ignore; const char* want; };
  const Case cases[] = {
      {"a=1; b=2", "a=", ";", 0, false, "1"},
      {"a=1; b=2", "a=", "#", 0, false, ""},
      {"k=\"v\" end", "k=#引号", "#引号", 0, false, "v"},
      {"A=1;a=2;", "a=", ";", 0, false, "2"},
      {"A=1;a=2;", "a=", ";", 0, true, "1"},
      {"a=1;a=2;", "a=", ";", 2, false, "2"},
      {"a=1;a=2;", "a=", ";", -5, false, "1"},
      {"ab", "a", "b", 0, false, ""},
      {"", "a", "b", 0, false, ""},
      {"中a=文;", "a=", ";", 0, false, "文"},
      {"x\r\nUser-Agent: U\r\n", "User-Agent:", "\r\n", 0, false, " U"},
      {"\xB0\xA1x=1;", "\xA1x", ";", 0, false, ""},  // never inside a GBK character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " | " + c.left + " | " + c.right);
    EXPECT_EQ(S(web::TextBetween(c.text, c.left, c.right, c.start, c.ignore)), c.want);
  }
}

TEST(TextAfterColonAndBefore, CutAtTheirSeparator) {
  struct Case { const char *text, *after_colon, *sep, *before; };
  const Case cases[] = {
      {"user-agent: X", "X", ": ", "user-agent"},
      {"a:b:c", "b:c", ":", "a"},
      {"nocolon", "", ": ", ""},
      {"x:   ", "", "x", ""},
      {":\xA1\xA1 v \xA1\xA1", "v", ":", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(S(web::TextAfterColon(c.text)), c.after_colon);
    EXPECT_EQ(S(web::TextBefore(c.text, c.sep)), c.before);
  }
  EXPECT_EQ(S(web::TextBefore("a;b;c", ";", 3)), "a;b");
  EXPECT_EQ(S(web::TextBefore("aXbxc", "x", 0, true)), "a");
}

TEST(Url, HostPortAndPath) {
  struct Case { const char *url, *host, *host_with_port; int32_t port; const char* path; };
  const Case cases[] = {
      {"HTTP://Host:8080/x", "host", "host:8080", 8080, "/x"},
      {"host", "host", "host", 80, "/"},
      {"HTTPS://Host", "host", "host", 443, "/"},
      {"http://Host/A/b?x=1", "host", "host", 80, "/A/b?x=1"},
      {"host:81/p", "host", "host:81", 81, "/p"},
      {"http://host:/p", "host", "host:", 0, "/p"},
      {"http://host:70000/p", "host", "host:70000", 70000, "/p"},
      {"http://[::1]:8080/p", "[", "[::1]:8080", 8080, "/p"},
      {"http://127.0.0.1:5/a#f", "127.0.0.1", "127.0.0.1:5", 5, "/a#f"},
      {"", "", "", 80, "/"},
      {"https:/x", "https", "https:", 0, "/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(S(web::UrlHost(c.url)), c.host);
    EXPECT_EQ(S(web::UrlHost(c.url, false, true)), c.host_with_port);
    EXPECT_EQ(web::UrlPort(c.url), c.port);
    EXPECT_EQ(S(web::UrlPath(c.url)), c.path);
  }
}

TEST(Url, MainDomainAndLabelCount) {
  struct Case { const char* url; bool main, keep_port; int32_t labels; const char* want; };  // labels -1: none
  const Case cases[] = {
      {"http://x.a.example/p", true, false, -1, "a.example"},
      {"http://a.example:81/p", true, true, -1, "a.example:81"},
      {"http://example/p", true, false, -1, "example"},
      {"http://www.a.example.com/p", true, false, 1, "example.com"},
      {"http://www.a.example.com/p", false, false, 1, "a.example.com"},
      {"https://www.a.example.com", false, false, 0, "example.com"},
      {"http://a.b/p", false, false, 1, "a.b"},
      {"http://b/p", true, false, 1, "b"},
      {"http://www.a.example.com:8080/p", false, true, 1, "a.example.com:8080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url) + (c.main ? " main" : "") + " labels " + std::to_string(c.labels));
    std::optional<int32_t> labels;
    if (c.labels >= 0) labels = c.labels;
    EXPECT_EQ(S(web::UrlHost(c.url, c.main, c.keep_port, labels)), c.want);
  }
}

TEST(Headers, NormalizeDropsLinesWithoutColonAndCapitalisesNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"content-type: text/plain\r\nfoo\r\nx-requested-with: A",
       "Content-Type: text/plain\r\nX-Requested-With: A"},
      {"cONTENT: x", "CONTENT: x"},
      {"a--b: 1", "A--B: 1"},
      {"bare", ""},
      {"", ""},
      {"\r\n\r\nx: 1\r\n", "X: 1"},
      {"x:1:2\r\n:v", "X:1:2\r\n:v"},
      {"中文-name: v", "中文-Name: v"},
      {"Accept: */*\r\nReferer: http://h/a-b\r\nAccept-Language: zh-cn",
       "Accept: */*\r\nReferer: http://h/a-b\r\nAccept-Language: zh-cn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    EXPECT_EQ(S(web::NormalizeHeaderNames(c.first)), c.second);
  }
  EXPECT_EQ(S(web::CapitalizeFirst("content")), "Content");
  EXPECT_EQ(S(web::CapitalizeFirst("")), "");
}

TEST(Cookies, MergeKeepsReturnedFirstAndDropsDeleted) {
  struct Case { const char *submitted, *returned, *want; };
  const Case cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1"},
      {"a=1", "a=deleted", ""},
      {"x=1; x=2", "", "x=1"},
      {"", "a=1; a=1", "a=1"},
      {" a = 1 ;b=2", "c=3", "c=3; a=1; b=2"},
      {"a=1;;b=2", "", "a=1; ; b=2"},
      {"flag; a=1", "flag=x", "flag=x; a=1"},
      {"a=1", "b=2; c=deleted", "b=2; a=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.submitted) + " | " + c.returned);
    OwnedText s = web::CopyOf(c.submitted), r = web::CopyOf(c.returned);
    EXPECT_EQ(S(web::MergeCookies(s, r)), c.want);
    EXPECT_EQ(S(s), c.want);
  }
}

TEST(Cookies, NamesAndLists) {
  EXPECT_EQ(S(web::CookieName(" a =1")), "a");
  EXPECT_EQ(S(web::CookieName("flag")), "flag");
  web::TextList list = web::Split("a=1;b=2;;", ";");
  EXPECT_TRUE(web::CookieListHasName(list, "b"));
  EXPECT_TRUE(web::CookieListHasName(list, ""));
  EXPECT_FALSE(web::CookieListHasName(list, "B"));
  EXPECT_EQ(web::FindTextInArray(list, "b=2"), 2);
  EXPECT_EQ(web::FindTextInArray(list, nullptr), 3);
  EXPECT_EQ(web::FindTextInArray(list, "c"), -1);
}

TEST(Items, RemoveDuplicatesAndSplitCharacters) {
  struct Case { const char *text, *sep; int32_t mode; const char* want; };
  const Case cases[] = {
      {"a; b; a", "; ", 1, "a; b"},
      {"a; b; a", "; ", 0, "a; ;;  ; b"},
      {"中中文\r\n\r\nx", "", 0, "中文\r\nx"},
      {"", "; ", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(S(web::RemoveDuplicateItems(c.text, c.sep, c.mode)), c.want);
  }
  web::TextList chars;
  EXPECT_EQ(web::SplitCharacters("a中\r\n\x80z\r", chars), 6);
  EXPECT_STREQ(chars[1], "中");
  EXPECT_STREQ(chars[2], "\r\n");
  EXPECT_STREQ(chars[3], "\x80");
  EXPECT_STREQ(chars[5], "\r");
  // A lead byte at the very end is a piece of one.
  EXPECT_EQ(web::SplitCharacters("a\xD6", chars), 2);
  EXPECT_EQ(web::SplitCharacters("", chars), 0);
}

}  // namespace
