// Runs a fuzz target once on every file of the folders (or files) named on
// the command line: its seed corpus and the inputs of past findings. Builds
// without libFuzzer use it so that every test run checks them; a build with
// the sanitizers also catches reads past an input's end.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Inputs(const fs::path& where) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_regular_file(where, ec)) return {where};
  for (auto it = fs::recursive_directory_iterator(where, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  // Every input is read before the first one runs: a target may confine
  // itself to a temporary folder on its first input.
  std::vector<std::pair<fs::path, std::vector<uint8_t>>> inputs;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : Inputs(argv[i])) {
      std::error_code ec;
      uintmax_t size = fs::file_size(file, ec);
      std::vector<uint8_t> bytes(ec ? 0 : size);
      std::ifstream in(file, std::ios::binary);
      in.read(reinterpret_cast<char*>(bytes.data()),
              static_cast<std::streamsize>(size));
      if (ec || !in || static_cast<uintmax_t>(in.gcount()) != size) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      inputs.emplace_back(file, std::move(bytes));
    }
  }
  for (const auto& [file, bytes] : inputs) {
    // Exactly the input's size, so that reads past its end are caught.
    auto copy = std::make_unique<uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    // Named before it runs, so that a crash shows which input it was.
    std::fprintf(stderr, "%s\n", file.c_str());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  // A corpus that went missing must not pass unnoticed.
  return inputs.empty() ? 1 : 0;
}
