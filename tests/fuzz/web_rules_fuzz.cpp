// Bounded random inputs for the web client's URL, header and cookie rules
// (under ASan and UBSan): corpus seeds mutated with a fixed seed.
// Usage: web_rules_fuzz CORPUS_DIR SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/core/gbk_text.h"
#include "web/rules.h"

namespace {

int g_failures = 0;
void Check(bool ok, const char* what, const std::string& input) {
  if (!ok && ++g_failures <= 20) std::fprintf(stderr, "property failed: %s on [%s]\n", what, input.c_str());
}
std::string S(const web::OwnedText& t) { return t.get() ? t.get() : ""; }

const char* const kPieces[] = {"http://", "HTTPS://", ":", "/", ".", "=", "; ", "\r\n", "#" GBK_QUOTE_WORD, " ",
                               "\xA1\xA1", "\xD6\xD0", "\xB0", "=deleted", "65536", "99999999999"};

std::string Mutate(std::string s, std::mt19937& rng) {
  for (int steps = 1 + rng() % 4; steps > 0; --steps) {
    const size_t at = rng() % (s.size() + 1);
    switch (rng() % 3) {
      case 0: s.insert(at, kPieces[rng() % std::size(kPieces)]); break;
      case 1: s.erase(at, 1 + rng() % 3); break;
      default: s.insert(at, 1, static_cast<char>(1 + rng() % 255));
    }
  }
  return s.substr(0, 4096);
}

void RunOne(const std::string& in, const std::string& other) {
  const char* t = in.c_str();
  const std::string host = S(web::UrlHost(t)), path = S(web::UrlPath(t));
  Check(S(web::UrlHost(t, false, true)).rfind(host, 0) == 0, "host is the start of host:port", in);
  web::UrlHost(t, true, true, static_cast<int32_t>(in.size() % 4));
  web::UrlPort(t);
  web::NormalizeHeaderNames(t);
  Check(!path.empty() && path[0] == '/', "path starts with a slash", in);
  web::TextBetween(t, other.c_str(), ";");
  web::OwnedText s = web::CopyOf(t), r = web::CopyOf(other.c_str());
  const std::string merged = S(web::MergeCookies(s, r));
  Check(merged == S(s), "merge rewrites the submitted cookies", in + " | " + other);
  Check(merged.find("  ") == std::string::npos, "merged cookies hold no double blank", in);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return std::fprintf(stderr, "usage: %s CORPUS_DIR SECONDS\n", argv[0]), 2;
  std::vector<std::string> seeds = {"http://host:8080/a?b=1"};
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream f(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  const auto stop = std::chrono::steady_clock::now() + std::chrono::duration<double>(std::atof(argv[2]));
  std::mt19937 rng(20191017);
  long runs = 0;
  for (const std::string& seed : seeds) RunOne(seed, seed), ++runs;
  for (; runs < 2000000 && ((runs & 63) || std::chrono::steady_clock::now() < stop); ++runs)
    RunOne(Mutate(seeds[rng() % seeds.size()], rng), Mutate(seeds[rng() % seeds.size()], rng));
  std::printf("web_rules_fuzz: %ld inputs, %d property failures\n", runs, g_failures);
  return g_failures ? 1 : 0;
}
