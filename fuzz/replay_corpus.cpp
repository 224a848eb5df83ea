// Runs the key decoder's contract check over files and directories of
// inputs, without libFuzzer: the seed corpus as a plain test, with any
// compiler. Exit status 1 when an input breaks the contract or when no input
// was found at all.
#include "decoder_contract.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::filesystem::path> inputsOf(const std::filesystem::path &arg) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(arg)) {
    for (const auto &entry : std::filesystem::directory_iterator(arg))
      if (entry.is_regular_file())
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(arg);
  }
  return files;
}

} // namespace

int main(int argc, char **argv) {
  int checked = 0;
  int failed = 0;
  for (int a = 1; a < argc; ++a) {
    for (const auto &file : inputsOf(argv[a])) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "%s: cannot read\n", file.c_str());
        ++failed;
        continue;
      }
      std::string bytes((std::istreambuf_iterator<char>(in)),
                        std::istreambuf_iterator<char>());
      std::string violation = quib::fuzz::findViolation(
          quib::decodeKey,
          reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
      ++checked;
      if (!violation.empty()) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), violation.c_str());
        ++failed;
      }
    }
  }
  std::printf("%d inputs checked, %d failed\n", checked, failed);
  return checked > 0 && failed == 0 ? 0 : 1;
}
