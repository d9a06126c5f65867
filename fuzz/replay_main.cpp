// A main for the fuzz targets without libFuzzer: runs every file named on the
// command line, and every file under every directory named, in sorted order,
// through LLVMFuzzerTestOneInput. An oracle failure aborts, naming the input.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static std::filesystem::path current; // the input being run, named when an oracle aborts

int main(int argc, char **argv) {
  std::signal(SIGABRT,
              [](int) { std::fprintf(stderr, "\nwhile running %s\n", current.c_str()); });
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i)
    if (!std::filesystem::is_directory(argv[i]))
      files.emplace_back(argv[i]);
    else
      for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i]))
        files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto &file : files) {
    // Exactly the input's size, so that a read past its end is seen by AddressSanitizer.
    std::vector<uint8_t> bytes(std::filesystem::file_size(current = file));
    if (!std::ifstream(file, std::ios::binary)
             .read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size())))
      return std::fprintf(stderr, "cannot read %s\n", file.c_str()), 1;
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
