// A main for the fuzz targets where libFuzzer is not linked (g++, or clang
// without the fuzzer runtime): runs every file named on the command line, and
// every file under every directory named, through LLVMFuzzerTestOneInput, in
// sorted order. With no arguments it runs standard input once. An oracle
// failure aborts with the input's name on stderr.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// The input being run, for the report when an oracle aborts.
char current[4096] = "<stdin>";

extern "C" void report_input(int signal) {
  const char prefix[] = "\nwhile running ";
  (void)!write(2, prefix, sizeof prefix - 1);
  (void)!write(2, current, std::strlen(current));
  (void)!write(2, "\n", 1);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void run(const std::string &bytes) {
  // A copy of exactly the input's size, so that a read past its end is seen
  // by AddressSanitizer.
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

bool run_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << path << "\n";
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)),
                    std::istreambuf_iterator<char>());
  std::snprintf(current, sizeof current, "%s", path.string().c_str());
  run(bytes);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGABRT, report_input);
  if (argc < 2) {
    std::string bytes((std::istreambuf_iterator<char>(std::cin)),
                      std::istreambuf_iterator<char>());
    run(bytes);
    std::cout << "replayed 1 input\n";
    return 0;
  }
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(arg)) {
      for (const auto &entry : std::filesystem::recursive_directory_iterator(arg))
        if (entry.is_regular_file())
          files.push_back(entry.path());
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(arg);
    }
    for (const auto &file : files) {
      // A file of a directory may vanish meanwhile (a fuzzer reducing its
      // corpus); a file named on the command line must be there.
      if (run_file(file))
        ++count;
      else if (files.size() == 1 && file == arg)
        return 1;
    }
  }
  std::cout << "replayed " << count << " inputs\n";
  return 0;
}
