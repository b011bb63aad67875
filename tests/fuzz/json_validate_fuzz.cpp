// Bounded random inputs for the JSON validator and the key and value checks (native, under the
// sanitizers): mutates the seeds in corpus/json for the given seconds; on ASCII texts the iterative,
// GBK-aware validator must agree with RapidJSON's plain recursive reader.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <rapidjson/reader.h>

#include "json/json_validate.h"

// The plain reader's verdict, with the validator's depth limit counted on the side.
struct Depth : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Depth> {
  int depth = 0, deepest = 0;
  bool StartObject() { return (deepest = std::max(deepest, ++depth)) < 2000; }  // no runaway recursion
  bool StartArray() { return StartObject(); }
  bool EndObject(rapidjson::SizeType) { return --depth, true; }
  bool EndArray(rapidjson::SizeType) { return --depth, true; }
};
static bool Oracle(const std::string& s) {
  if (s.empty() || s.size() > json::kMaxJsonBytes || s.find('\0') != std::string::npos) return false;
  rapidjson::StringStream in(s.c_str());
  Depth h;
  return !rapidjson::Reader().Parse(in, h).IsError() && h.deepest <= json::kMaxJsonDepth;
}

static std::string Mutate(std::string s, std::mt19937& rng, const std::vector<std::string>& seeds) {
  static const char kBytes[] = "{}[]\":,\\ \t\n0123456789-+.eEtrufalsn'/*\x95\x5c\xd6\xd0\x80\xff";
  for (int i = 0, steps = 1 + rng() % 4; i < steps; ++i) {
    size_t at = rng() % (s.size() + 1);
    char b = kBytes[rng() % (sizeof kBytes - 1)];
    switch (rng() % 5) {
      case 0: s.insert(at, 1, b); break;
      case 1: if (at < s.size()) s.erase(at, 1 + rng() % 3); break;
      case 2: if (at < s.size()) s[at] = b; break;
      case 3: s.insert(at, seeds[rng() % seeds.size()]); break;
      case 4: s.insert(at, std::string(1 + rng() % 600, rng() % 2 ? '[' : '{')); break;
    }
  }
  return s.size() > 65536 ? s.substr(0, 65536) : s;
}

int main(int argc, char** argv) {
  std::vector<std::string> seeds{"{}"};
  for (const auto& e : std::filesystem::directory_iterator(argc > 1 ? argv[1] : "corpus/json")) {
    std::ifstream f(e.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  std::mt19937 rng(20191017);
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(argc > 2 ? std::stod(argv[2]) : 10.0);
  long runs = 0, compared = 0;
  for (; runs % 64 || std::chrono::steady_clock::now() < end; ++runs) {
    std::string s = Mutate(seeds[rng() % seeds.size()], rng, seeds);
    bool ok = json::IsSafeJson(s.data(), s.size());
    json::IsMemberPath(s.c_str()), json::IsPlainQuotable(s.c_str());  // must merely survive
    if (std::any_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x80; })) continue;
    if (++compared, ok != Oracle(s))
      return std::fprintf(stderr, "validator says %d, reader disagrees on: %s\n", ok, s.c_str()), 1;
  }
  std::printf("json validator: %ld inputs, %ld compared with the plain reader\n", runs, compared);
  return 0;
}
