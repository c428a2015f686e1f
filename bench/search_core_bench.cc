// Drives the search core directly, without the command line, for the
// search benchmark (search_bench.py):
//
//   search_core_bench compress SRC DST
//       compresses the file SRC into DST (spaceless model), or every file
//       below the folder SRC into the same place below DST with ".hwz" added;
//   search_core_bench search [-e N] [-i] [-m N] [-n] [-b] [--rows]
//                            [--scan auto|scalar|sse2|avx2] [--program] WORD PATH...
//       searches the compressed files (folders walked) and prints one line
//       per hit: FILE:LINE:OFFSET:WORD, or with --rows FILE:LINE: LEFT[WORD]RIGHT.
//       --program runs the agrep program instead of matching in-process.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "search/hits.h"
#include "search/scan.h"
#include "search/search_file.h"
#include "platform/system_search_host.h"
#include "wordmodel/hlog.h"

namespace {

namespace fs = std::filesystem;

class BenchHost : public moravine::SystemSearchHost {
 public:
  explicit BenchHost(bool bundled) : bundled_(bundled) {}
  bool useBundledMatcher() const override { return bundled_; }

 private:
  bool bundled_;
};

struct Mapped {
  const unsigned char* data = nullptr;
  size_t size = 0;
  explicit Mapped(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) {
        data = static_cast<const unsigned char*>(p);
        size = static_cast<size_t>(st.st_size);
      }
    }
    ::close(fd);
  }
  ~Mapped() {
    if (data) ::munmap(const_cast<unsigned char*>(data), size);
  }
};

int CompressFile(const fs::path& src, const fs::path& dst) {
  Mapped in(src.string());
  HBuffer out;
  int32_t n = 0;
  try {
    Huffw_spaceless_compress(in.data, static_cast<int32_t>(in.size), &out, &n, 0);
  } catch (const HFatalFailure&) {
    std::fprintf(stderr, "cannot compress %s\n", src.c_str());
    return 1;
  }
  FILE* f = std::fopen(dst.c_str(), "wb");
  if (!f || std::fwrite(out.get(), 1, static_cast<size_t>(n), f) != static_cast<size_t>(n) || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", dst.c_str());
    return 1;
  }
  return 0;
}

int Compress(const fs::path& src, const fs::path& dst) {
  if (!fs::is_directory(src)) return CompressFile(src, dst);
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(src)) {
    if (e.is_regular_file()) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    fs::path target = dst / fs::relative(f, src);
    fs::create_directories(target.parent_path());
    target += ".hwz";
    if (CompressFile(f, target) != 0) return 1;
  }
  return 0;
}

void Files(const std::string& path, std::vector<std::string>* out) {
  if (!fs::is_directory(path)) {
    out->push_back(path);
    return;
  }
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(path)) {
    if (e.is_regular_file() && e.path().extension() == ".hwz") found.push_back(e.path().string());
  }
  std::sort(found.begin(), found.end());
  out->insert(out->end(), found.begin(), found.end());
}

int Search(int argc, char** argv) {
  SearchOptions options;
  SearchRowOptions row_options;
  bool rows = false, program = false;
  SearchScanPath path = SearchScanPath::kAuto;
  int i = 0;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string a = argv[i];
    if (a == "-e" && i + 1 < argc) options.errors = std::atoi(argv[++i]);
    else if (a == "-m" && i + 1 < argc) options.max_hits = std::atoi(argv[++i]);
    else if (a == "-i") options.ignore_case = true;
    else if (a == "-n") options.line_numbers = true;
    else if (a == "-b") options.text_offsets = true;
    else if (a == "--rows") rows = true;
    else if (a == "--program") program = true;
    else if (a == "--scan" && i + 1 < argc) {
      const std::string p = argv[++i];
      path = p == "scalar" ? SearchScanPath::kScalar : p == "sse2" ? SearchScanPath::kSse2
           : p == "avx2" ? SearchScanPath::kAvx2 : SearchScanPath::kAuto;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (i + 2 > argc) {
    std::fprintf(stderr, "usage: search_core_bench search [options] WORD PATH...\n");
    return 2;
  }
  if (!Search_scanPathAvailable(path)) {
    std::fprintf(stderr, "this processor cannot take that scan path\n");
    return 2;
  }
  options.scan_path = path;
  const std::string word = argv[i++];
  options.phrase = Search_isPhrase(word);
  std::vector<std::string> files;
  for (; i < argc; ++i) Files(argv[i], &files);
  BenchHost host(!program);
  std::string out;
  int64_t total = 0;
  std::vector<SearchHit> hits;
  std::vector<SearchRow> found;
  for (const std::string& file : files) {
    Mapped m(file);
    if (!m.data) continue;
    const auto size = static_cast<int32_t>(m.size);
    try {
      Search_findHits(word, m.data, size, options, &host, &hits);
      const std::string name = Search_displayName(file);
      if (rows) {
        found.clear();
        std::string error;
        Search_hitRows(name, m.data, size, hits.data(), static_cast<int32_t>(hits.size()), row_options, &found,
                       &error);
        for (const SearchRow& r : found) {
          out += name + ":" + std::to_string(r.line) + ": " + r.left + "[" + r.word + "]" + r.right + "\n";
        }
      } else {
        for (const SearchHit& h : hits) {
          out += name + ":" + std::to_string(h.line) + ":" + std::to_string(h.text_offset) + ":" +
                 std::to_string(h.offset) + "\n";
        }
      }
    } catch (const HFatalFailure& e) {
      std::fprintf(stderr, "%s: search failed: %s", file.c_str(), e.what());
    }
    total += static_cast<int64_t>(hits.size());
    if (out.size() > (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return total > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  moravine::PrependProgramDirectoryToPath();
  if (argc >= 4 && std::strcmp(argv[1], "compress") == 0) return Compress(argv[2], argv[3]);
  if (argc >= 2 && std::strcmp(argv[1], "search") == 0) return Search(argc - 2, argv + 2);
  std::fprintf(stderr, "usage: search_core_bench compress SRC DST | search [options] WORD PATH...\n");
  return 2;
}
