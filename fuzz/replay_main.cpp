// A main for the fuzz targets without libFuzzer: runs every file named on the
// command line, and every file under every directory named, in sorted order,
// through LLVMFuzzerTestOneInput. An oracle failure aborts, naming the input.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static char current[4096]; // the input being run, for the report

extern "C" void report_input(int signal) {
  (void)!write(2, "\nwhile running ", 15), (void)!write(2, current, std::strlen(current)), (void)!write(2, "\n", 1);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

int main(int argc, char **argv) {
  std::signal(SIGABRT, report_input);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i)
    if (!std::filesystem::is_directory(argv[i]))
      files.emplace_back(argv[i]);
    else
      for (const auto &entry : std::filesystem::recursive_directory_iterator(argv[i]))
        if (entry.is_regular_file())
          files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto &file : files) {
    std::ifstream in(file, std::ios::binary);
    // Exactly the input's size, so that a read past its end is seen by AddressSanitizer.
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
      return std::fprintf(stderr, "cannot read %s\n", file.c_str()), 1;
    std::snprintf(current, sizeof current, "%s", file.c_str());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
