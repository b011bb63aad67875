// Corpus replay for builds without libFuzzer (GCC under ASan and UBSan): runs
// the target's entry once on every file named or found in the directories
// named on the command line, so a committed corpus is a regression test.
// Usage: TARGET FILE_OR_DIR...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& e : std::filesystem::directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (files.empty()) return std::fprintf(stderr, "usage: %s FILE_OR_DIR...\n", argv[0]), 2;
  std::sort(files.begin(), files.end());  // directory order varies
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());  // exactly sized: ASan sees overruns
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
  }
  std::printf("%s: %zu inputs replayed, no failures\n", argv[0], files.size());
  return 0;
}
