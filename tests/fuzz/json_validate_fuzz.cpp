// Bounded random inputs for the JSON validator and the key and value checks
// (native, under the sanitizers). Mutates the seeds in corpus/json for the
// given number of seconds and checks that the iterative, GBK-aware
// validator agrees with RapidJSON's plain recursive reader on ASCII texts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <rapidjson/reader.h>

#include "json/json_validate.h"

namespace {

struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
  int depth = 0, deepest = 0;
  bool Open() {
    deepest = std::max(deepest, ++depth);
    return depth < 2000;  // the recursive reader must not run away
  }
  bool StartObject() { return Open(); }
  bool StartArray() { return Open(); }
  bool EndObject(rapidjson::SizeType) { return --depth, true; }
  bool EndArray(rapidjson::SizeType) { return --depth, true; }
};

// What the validator should say about an ASCII text, by the plain reader.
bool Oracle(const std::string& s) {
  if (s.empty() || s.size() > json::kMaxJsonBytes || s.find('\0') != std::string::npos) return false;
  rapidjson::StringStream in(s.c_str());
  Depth h;
  rapidjson::Reader reader;
  return !reader.Parse(in, h).IsError() && h.deepest <= json::kMaxJsonDepth;
}

bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

std::vector<std::string> LoadSeeds(const char* dir) {
  std::vector<std::string> seeds;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream f(std::string(dir) + "/" + e->d_name, std::ios::binary);
      std::stringstream ss;
      ss << f.rdbuf();
      seeds.push_back(ss.str());
    }
    closedir(d);
  }
  if (seeds.empty()) seeds.push_back("{}");
  return seeds;
}

std::string Mutate(std::string s, std::mt19937& rng, const std::vector<std::string>& seeds) {
  static const char kBytes[] = "{}[]\":,\\ \t\n0123456789-+.eEtrufalsn'/*\x95\x5c\xd6\xd0\x80\xff";
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < steps; ++i) {
    size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    char b = kBytes[rng() % (sizeof kBytes - 1)];
    switch (rng() % 6) {
      case 0: s.insert(at, 1, b); break;
      case 1: if (at < s.size()) s.erase(at, 1 + rng() % 3); break;
      case 2: if (at < s.size()) s[at] = b; break;
      case 3: s.insert(at, seeds[rng() % seeds.size()]); break;
      case 4: s.insert(at, std::string(1 + rng() % 600, rng() % 2 ? '[' : '{')); break;
      case 5: if (at < s.size()) s.insert(at, s.substr(at, rng() % 64)); break;
    }
  }
  if (s.size() > 65536) s.resize(65536);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const char* dir = argc > 1 ? argv[1] : "corpus/json";
  const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
  std::vector<std::string> seeds = LoadSeeds(dir);
  std::mt19937 rng(20191017);
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  long runs = 0, accepted = 0, compared = 0;
  while (std::chrono::steady_clock::now() < end) {
    for (int batch = 0; batch < 64; ++batch, ++runs) {
      std::string s = Mutate(seeds[rng() % seeds.size()], rng, seeds);
      bool ok = json::IsSafeJson(s.data(), s.size());
      accepted += ok;
      if (IsAscii(s)) {
        ++compared;
        if (ok != Oracle(s)) {
          std::fprintf(stderr, "validator says %d, reader disagrees on: %s\n", ok, s.c_str());
          return 1;
        }
      }
      json::IsMemberPath(s.c_str());
      json::IsPlainQuotable(s.c_str());
    }
  }
  std::printf("json validator: %ld inputs, %ld accepted, %ld compared with the plain reader\n",
              runs, accepted, compared);
  return 0;
}
