// Runs the fuzz target over files and directories of inputs, for builds
// without libFuzzer: the corpus replay test, and replaying a crash input
// under gcc or a debugger.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size);

namespace {

bool replay(const std::filesystem::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // An empty vector's data() may be null; the target is given a real
  // pointer either way.
  static const std::uint8_t none = 0;
  LLVMFuzzerTestOneInput(
      bytes.empty() ? &none
                    : reinterpret_cast<const std::uint8_t *>(bytes.data()),
      bytes.size());
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      std::vector<fs::path> files;
      for (const auto &e : fs::directory_iterator(argv[i], ec))
        if (e.is_regular_file())
          files.push_back(e.path());
      if (ec) {
        std::fprintf(stderr, "cannot list %s\n", argv[i]);
        return 1;
      }
      for (const auto &f : files) {
        if (!replay(f))
          return 1;
        ++count;
      }
    } else {
      if (!replay(argv[i]))
        return 1;
      ++count;
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::printf("%zu inputs replayed, no difference\n", count);
  return 0;
}
