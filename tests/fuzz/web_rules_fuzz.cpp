// Bounded random inputs for the web client's URL, header and cookie rules,
// natively under ASan and UBSan. Seeds come from the corpus folder; a fixed
// random seed makes every run the same. Usage: web_rules_fuzz DIR SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "web/rules.h"

namespace {

int g_failures = 0;
void Check(bool ok, const char* what, const std::string& input) {
  if (ok) return;
  if (++g_failures <= 20) std::fprintf(stderr, "property failed: %s on [%s]\n", what, input.c_str());
}

std::string S(const web::OwnedText& t) { return t.get() ? t.get() : ""; }

std::vector<std::string> LoadCorpus(const char* dir) {
  std::vector<std::string> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(entry.path(), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    seeds.push_back(s.str());
  }
  if (seeds.empty()) seeds.push_back("http://host:8080/a?b=1");
  return seeds;
}

const char* const kPieces[] = {"http://", "https://", "HTTPS://", ":", "/", ".", "=", ";", "; ",
                               "\r\n", "-", "#引号", "\"", " ", "\xA1\xA1", "\xD6\xD0", "\xB0",
                               "=deleted", "Set-Cookie:", "user-agent:", "65536", "99999999999"};

std::string Mutate(std::string s, std::mt19937& rng) {
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < steps; ++i) {
    const size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 4) {
      case 0: s.insert(at, kPieces[rng() % (sizeof kPieces / sizeof *kPieces)]); break;
      case 1: if (!s.empty() && at < s.size()) s.erase(at, 1 + rng() % 3); break;
      case 2: s.insert(at, 1, static_cast<char>(1 + rng() % 255)); break;
      default: if (!s.empty() && at < s.size()) s[at] = static_cast<char>(1 + rng() % 255); break;
    }
  }
  return s.size() > 4096 ? s.substr(0, 4096) : s;
}

void RunOne(const std::string& in, const std::string& other) {
  const char* t = in.c_str();
  // A double-byte character may swallow a ':' or '/', so the checks here
  // hold for GBK texts, not just for ASCII.
  std::string host = S(web::UrlHost(t)), with_port = S(web::UrlHost(t, false, true));
  Check(with_port.compare(0, host.size(), host) == 0, "host is the start of host:port", in);
  web::UrlHost(t, true, true);
  web::UrlHost(t, false, false, static_cast<int32_t>(in.size() % 4));
  web::UrlPort(t);
  std::string path = S(web::UrlPath(t));
  Check(!path.empty() && path[0] == '/', "path starts with a slash", in);
  Check(path == "/" || in.size() >= path.size(), "path is a tail of the URL", in);
  std::string headers = S(web::NormalizeHeaderNames(t));
  bool ascii = true;
  for (unsigned char c : in) ascii = ascii && c < 0x80;
  // (A lead byte right before CR joins it, so the CR LF is no line end.)
  Check(!ascii || headers.size() < 2 || headers.compare(headers.size() - 2, 2, "\r\n") != 0,
        "normalised block has no trailing CR LF", in);
  std::string between = S(web::TextBetween(t, other.c_str(), ";"));
  Check(between.size() <= in.size(), "between is no longer than the text", in);
  web::OwnedText s = web::CopyOf(t), r = web::CopyOf(other.c_str());
  std::string merged = S(web::MergeCookies(s, r));
  Check(merged == S(s), "merge rewrites the submitted cookies", in + " | " + other);
  Check(merged.find("  ") == std::string::npos, "merged cookies hold no double blank", in);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR SECONDS\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> seeds = LoadCorpus(argv[1]);
  const double seconds = std::atof(argv[2]);
  std::mt19937 rng(20191017);
  const auto start = std::chrono::steady_clock::now();
  long runs = 0;
  for (const std::string& seed : seeds) RunOne(seed, seed), ++runs;
  while (runs < 2000000) {
    const std::string& a = seeds[rng() % seeds.size()];
    const std::string& b = seeds[rng() % seeds.size()];
    RunOne(Mutate(a, rng), Mutate(b, rng));
    ++runs;
    if ((runs & 63) == 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > seconds)
      break;
  }
  std::printf("web_rules_fuzz: %ld inputs, %d property failures\n", runs, g_failures);
  return g_failures ? 1 : 0;
}
