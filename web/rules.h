// URL, header and cookie rules of the web client: plain text functions over
// GBK texts, built on the Runtime's text commands. No state, no network;
// portable (builds natively and for Windows).
//
// Ownership: every OwnedText result is a new block (null for empty) owned by
// the caller. By-reference parameters (MergeCookies) are the caller's
// variables: the old block is freed and replaced.
// Failure: none of these fail; a missing marker, separator or colon gives an
// empty text, a URL without a path gives "/".
// May call: program/text_ops.h (the entry table).
#pragma once

#include <cstdint>
#include <optional>

#include "program/text_ops.h"

namespace web {

// The program side's text helpers, by their plain names.
using namespace prog;

// The middle part between the first `left` marker (searched from `start`;
// below 1 = from the beginning) and the next `right` marker after it. "#引号"
// in a marker stands for a double quote.
OwnedText TextBetween(const char* text, const char* left, const char* right, int32_t start = 0,
                      bool ignore_case = false);
// The trimmed rest after the first ":", or empty.
OwnedText TextAfterColon(const char* text);
// The part before `separator` (searched from `start`, 0 or below = 1), or empty.
OwnedText TextBefore(const char* text, const char* separator, int32_t start = 0,
                     bool ignore_case = false);

// Lower-cased host of a URL. main_domain keeps the last two labels;
// keep_port keeps ":port"; label_count selects the label-counting form.
OwnedText UrlHost(const char* url, bool main_domain = false, bool keep_port = false,
                  std::optional<int32_t> label_count = std::nullopt);
// The explicit port, else 443 for "https" URLs, else 80. Not range-checked.
int32_t UrlPort(const char* url);
// The object path with its query, letter case kept; "/" when there is none.
OwnedText UrlPath(const char* url);

// Drops lines without a colon and capitalises each dash-separated word of
// every header name; no trailing CR LF.
OwnedText NormalizeHeaderNames(const char* headers);
OwnedText CapitalizeFirst(const char* text);

// Merges submitted cookies into the returned ones (returned first, then
// submitted names not yet present, "=deleted" items dropped, duplicates
// removed). Both variables lose their blanks; `submitted` is rewritten to
// the merged text, which is also returned.
OwnedText MergeCookies(OwnedText& submitted, OwnedText& returned);
OwnedText CookieName(const char* item);
bool CookieListHasName(const TextList& list, const char* name);

// Mode 0 splits into characters, any other mode at `separator`; the first
// of repeated items wins.
OwnedText RemoveDuplicateItems(const char* text, const char* separator, int32_t mode);
// Characters of a text (CR LF and double-byte characters as one); returns
// the item count.
int32_t SplitCharacters(const char* text, TextList& out);
// 1-based index of the first item equal to `text`, or -1.
int32_t FindTextInArray(const TextList& list, const char* text);

}  // namespace web
