// The main() a fuzz entry is linked with where libFuzzer is not: it feeds every file named on
// the command line, and every file in every folder named there, to LLVMFuzzerTestOneInput
// once, so that a corpus is replayed as an ordinary test by any compiler. An entry that finds
// a fault aborts; a replay that found no input at all fails, since it tested nothing.
//   fuzz_settings_file_replay fuzz/corpus/SettingsFile [crash-1234...]
// Arguments beginning with "-" are passed over, so that a libFuzzer command line replays too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// The input in a block of its own exactly as long, so that AddressSanitizer sees a read past
// its end.
bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "Cannot read %s\n", file.c_str());
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto data = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), data.get());
  LLVMFuzzerTestOneInput(data.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    if (argv[i][0] == '-') continue;
    std::error_code error;
    if (fs::is_directory(arg, error)) {
      const std::size_t first = files.size();
      for (const fs::directory_entry& entry : fs::directory_iterator(arg, error))
        if (entry.is_regular_file(error)) files.push_back(entry.path());
      // The same order on every machine, for a fault that depends on what ran before.
      std::sort(files.begin() + static_cast<std::ptrdiff_t>(first), files.end());
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "No input to replay: name corpus folders or files.\n");
    return 1;
  }
  for (const fs::path& file : files) {
    if (!Replay(file)) return 1;
  }
  std::printf("Replayed %zu inputs\n", files.size());
  return 0;
}
