// Writes the files that the codec makes of the sample texts
// (resources/samples/*.txt): under the four parsing rules, the words models
// with auxiliary pointers every 128 bytes (the command line's default), with
// one thread and with two, as OUT_DIR/NAME.rRULE.tTHREADS.hwz. Builds for
// different systems must write the same bytes: the test
// SampleFiles.SameBytesAsLinux of the Windows build compares its files with
// those of a Linux build.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "wordmodel/hrule.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: sample_files OUT_DIR\n", stderr);
    return 2;
  }
  try {
    const fs::path out_dir = argv[1];
    fs::create_directories(out_dir);
    std::vector<fs::path> samples;
    for (const auto& entry : fs::directory_iterator(MORAVINE_SAMPLES_DIR)) {
      if (entry.path().extension() == ".txt") samples.push_back(entry.path());
    }
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) throw std::runtime_error("no sample texts in " MORAVINE_SAMPLES_DIR);
    int written = 0;
    for (const fs::path& sample : samples) {
      std::ifstream in(sample, std::ios::binary);
      const std::string text = (std::ostringstream() << in.rdbuf()).str();
      if (!in || text.empty()) throw std::runtime_error("cannot read " + sample.string());
      for (int32_t rule = 0; rule <= 3; ++rule) {
        const bool words = !HRule_spaceless(rule);
        for (int32_t threads : {1, 2}) {
          HBuffer file;
          int32_t length = 0;
          HCompress_rule(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int32_t>(text.size()), rule,
                         words ? 128 : 0, &file, &length, 0, threads);
          const std::string name = sample.stem().string() + ".r" + std::to_string(rule) + ".t" +
                                   std::to_string(threads) + ".hwz";
          std::ofstream out(out_dir / name, std::ios::binary | std::ios::trunc);
          out.write(reinterpret_cast<const char*>(file.get()), length);
          if (!out.flush()) throw std::runtime_error("cannot write " + (out_dir / name).string());
          ++written;
        }
      }
    }
    std::printf("%d files written to %s\n", written, out_dir.string().c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sample_files: %s\n", e.what());
    return 1;
  }
}
