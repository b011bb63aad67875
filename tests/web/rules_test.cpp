// The URL, header and cookie rules (natively under the sanitizers, and on the target).
#include <gtest/gtest.h>

#include <string>

#include "runtime/core/gbk_text.h"
#include "web/rules.h"

namespace {

using prog::OwnedText;

std::string S(const OwnedText& t) { return t.get() ? t.get() : ""; }

TEST(TextBetween, CutsBetweenMarkers) {
  struct Case { const char *text, *left, *right; int32_t start; bool ignore; const char* want; };
  const Case cases[] = {
      {"a=1; b=2", "a=", ";", 0, false, "1"},
      {"k=\"v\" end", "k=#" GBK_QUOTE_WORD, "#" GBK_QUOTE_WORD, 0, false, "v"},
      {"A=1;a=2;", "a=", ";", -5, true, "1"},
      {GBK_TEST_ZHONG "a=" GBK_TEST_WEN ";", "a=", ";", 0, false, GBK_TEST_WEN},
      {"\xB0\xA1x=1;", "\xA1x", ";", 0, false, ""},  // never inside a GBK character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " | " + c.left + " | " + c.right);
    EXPECT_EQ(S(web::TextBetween(c.text, c.left, c.right, c.start, c.ignore)), c.want);
  }
}

TEST(Url, HostPortAndPath) {
  struct Case { const char *url, *host, *host_with_port; int32_t port; const char* path; };
  const Case cases[] = {
      {"HTTP://Host:8080/x", "host", "host:8080", 8080, "/x"},
      {"host:81/p", "host", "host:81", 81, "/p"},
      {"http://host:/p", "host", "host:", 0, "/p"},
      {"http://host:70000/p", "host", "host:70000", 70000, "/p"},
      {"http://[::1]:8080/p", "[", "[::1]:8080", 8080, "/p"},
      {"", "", "", 80, "/"},
      // Hosts that also occur in the scheme are looked for after it.
      {"http://h/p", "h", "h", 80, "/p"},
      {"http://t/x/y", "t", "t", 80, "/x/y"},
      {"http://http/q?a=1", "http", "http", 80, "/q?a=1"},
      {"https://s/p", "s", "s", 443, "/p"},
      {"http://tp:81/", "tp", "tp:81", 81, "/"},
      {"http://Host/A/b?x=1", "host", "host", 80, "/A/b?x=1"},
      {"http://host", "host", "host", 80, "/"},
      // A user name stays in the host; with a password the host ends at its colon.
      {"http://user@host:8080/p", "user@host", "user@host:8080", 8080, "/p"},
      {"http://user:pw@host/p", "user", "user:pw@host", 0, "/p"},
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
  struct Case { const char* url; bool main, keep_port; int32_t labels; const char* want; };  // -1: no labels
  const Case cases[] = {
      {"http://x.a.example/p", true, false, -1, "a.example"},
      {"http://www.a.example.com/p", true, false, 1, "example.com"},
      {"https://www.a.example.com", false, false, 0, "example.com"},
      {"http://www.a.example.com:8080/p", false, true, 1, "a.example.com:8080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url) + (c.main ? " main" : "") + " labels " + std::to_string(c.labels));
    const auto labels = c.labels < 0 ? std::nullopt : std::optional<int32_t>(c.labels);
    EXPECT_EQ(S(web::UrlHost(c.url, c.main, c.keep_port, labels)), c.want);
  }
}

TEST(Headers, NormalizeDropsLinesWithoutColonAndCapitalisesNames) {
  EXPECT_EQ(S(web::NormalizeHeaderNames("content-type: a\r\nfoo\r\nx-requested-with: A")),
            "Content-Type: a\r\nX-Requested-With: A");
  EXPECT_EQ(S(web::NormalizeHeaderNames("\r\n\r\nx: 1\r\n")), "X: 1");
  EXPECT_EQ(S(web::NormalizeHeaderNames(GBK_TEST_ZHONG GBK_TEST_WEN "-name: v")), GBK_TEST_ZHONG GBK_TEST_WEN "-Name: v");
}

TEST(Cookies, MergeKeepsReturnedFirstAndDropsDeleted) {
  struct Case { const char *submitted, *returned, *want; };
  const Case cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1"},
      {"a=1", "a=deleted", ""},
      {"x=1; x=2", "", "x=1"},
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

TEST(Items, RemoveDuplicatesAndSplitCharacters) {
  EXPECT_EQ(S(web::RemoveDuplicateItems("a; b; a", "; ", 0)), "a; ;;  ; b");
  web::TextList chars;
  EXPECT_EQ(web::SplitCharacters("a" GBK_TEST_ZHONG "\r\n\x80z\r", chars), 6);
  EXPECT_STREQ(chars[1], GBK_TEST_ZHONG);
  EXPECT_STREQ(chars[3], "\x80");
  EXPECT_EQ(web::SplitCharacters("a\xD6", chars), 2);  // a lead byte at the end is one piece
}

}  // namespace
