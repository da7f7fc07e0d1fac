// Runs a fuzz target over every file of the directories (or the files) named on the command
// line, so that a build without libFuzzer still replays the committed corpus and the past
// findings as an ordinary test. A property violation aborts inside the target, which fails the
// test with the file's name printed just before.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool replay_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // Exactly the input's size on the heap, as libFuzzer hands it over, so a sanitized replay
  // catches the same overreads.
  auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
  if (!bytes.empty()) {
    std::memcpy(copy.get(), bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "replaying %s\n", path.c_str());
  LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path root(argv[i]);
    std::error_code ec;
    if (fs::is_regular_file(root, ec)) {
      if (!replay_file(root)) {
        return 1;
      }
      ++replayed;
      continue;
    }
    if (!fs::is_directory(root, ec)) {
      std::fprintf(stderr, "no such file or directory: %s\n", root.c_str());
      return 1;
    }
    // Sorted, so two runs replay in the same order and a failure log reads the same.
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file()) {
        files.push_back(entry.path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      if (!replay_file(path)) {
        return 1;
      }
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return 0;
}
