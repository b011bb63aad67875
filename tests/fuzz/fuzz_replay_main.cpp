// Corpus replay without libFuzzer (GCC, ASan, UBSan): the target's entry once on every file of DIR.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: %s DIR\n", argv[0]), 2;
  std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(argv[1]), {});
  std::sort(files.begin(), files.end());  // directory order varies
  for (const auto& f : files) {
    std::vector<uint8_t> exact(std::filesystem::file_size(f));  // exactly sized: ASan sees overruns
    std::ifstream(f, std::ios::binary).read(reinterpret_cast<char*>(exact.data()), exact.size());
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
  }
  std::printf("%s: %zu inputs replayed, no failures\n", argv[0], files.size());
  return 0;
}
