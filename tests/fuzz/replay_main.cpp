// Runs a fuzz target's entry function once on each file of its corpus, without libFuzzer, so that
// an ordinary build catches a regression on every input already known.
//   target DIR|FILE...           replays every file (directories are walked, in name order)
//   target --make-seeds DIR      writes the target's seeds (made by the project's own writers)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
// A target that can make its own seeds defines this.
__attribute__((weak)) void KelmFuzzSeeds(std::vector<std::string>& seeds);

namespace fs = std::filesystem;

namespace {

bool readFile(const fs::path& p, std::string& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int makeSeeds(const fs::path& dir) {
  if (!KelmFuzzSeeds) {
    std::fprintf(stderr, "this target makes no seeds\n");
    return 2;
  }
  std::vector<std::string> seeds;
  KelmFuzzSeeds(seeds);
  std::error_code ec;
  fs::create_directories(dir, ec);
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "seed-%03zu", i);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(seeds[i].data(), static_cast<std::streamsize>(seeds[i].size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
      return 1;
    }
  }
  std::printf("%zu seeds written to %s\n", seeds.size(), dir.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--make-seeds") == 0) return makeSeeds(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS-DIR|FILE... | --make-seeds DIR\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path p(argv[i]);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      std::vector<fs::path> inDir;
      for (const auto& e : fs::recursive_directory_iterator(p, ec))
        if (e.is_regular_file()) inDir.push_back(e.path());
      std::sort(inDir.begin(), inDir.end());
      files.insert(files.end(), inDir.begin(), inDir.end());
    } else if (fs::is_regular_file(p, ec)) {
      files.push_back(p);
    } else {
      std::fprintf(stderr, "no such corpus: %s\n", p.c_str());
      return 1;
    }
  }
  // An empty corpus would make the replay pass while testing nothing.
  if (files.empty()) {
    std::fprintf(stderr, "the corpus holds no inputs\n");
    return 1;
  }
  std::string data;
  for (const fs::path& f : files) {
    if (!readFile(f, data)) {
      std::fprintf(stderr, "cannot read %s\n", f.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
