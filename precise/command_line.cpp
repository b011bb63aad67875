// The precise program's command line (policy.h): its words split as
// Windows splits them, the sources' URLs, the way to them (a proxy) and the
// elevated copy's offset.
#include <limits>

#include "precise/policy.h"

namespace precise {

std::vector<std::string> SplitCommandLine(const std::string& line) {
  // Backslashes are kept as they are: URLs and numbers never need them
  // doubled, and a quoted program path ends at its closing quote.
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') quoted = !quoted;
      else if (!quoted && (c == ' ' || c == '\t')) break;
      else word += c;
    }
    out.push_back(word);
  }
  return out;
}

namespace {

constexpr char kApplyPrefix[] = "--apply-offset=";

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// A whole decimal number of milliseconds, optionally signed, nothing else.
std::optional<int64_t> ReadMs(const std::string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  size_t at = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  int64_t v = 0;
  for (size_t i = at; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    int digit = text[i] - '0';
    // Nineteen digits can exceed int64_t: such an offset is no offset.
    if (v > (std::numeric_limits<int64_t>::max() - digit) / 10) return std::nullopt;
    v = v * 10 + digit;
  }
  return text[0] == '-' ? -v : v;
}

}  // namespace

CommandLine ReadCommandLine(const std::string& line) {
  CommandLine cl;
  std::vector<std::string> words = SplitCommandLine(line);
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (StartsWith(w, "http://") || StartsWith(w, "https://")) {
      cl.urls.push_back(w);
    } else if (size_t taken = measure::TakeProxyWords(words, i, &cl.proxy)) {
      i += taken - 1;
    } else if (StartsWith(w, kApplyPrefix)) {
      cl.apply_offset_ms = ReadMs(w.substr(sizeof kApplyPrefix - 1));
      if (!cl.apply_offset_ms) cl.unknown.push_back(w);
    } else {
      cl.unknown.push_back(w);
    }
  }
  return cl;
}

std::vector<std::string> UrlsIn(const std::string& text) {
  return ReadCommandLine("- " + text).urls;  // a stand-in for the program's own name
}

std::string ApplyOffsetArgument(int64_t offset_ms) {
  return kApplyPrefix + std::to_string(offset_ms);
}

}  // namespace precise
