// Times the codec's passes on one file, without the command line and its
// file handling, for the profile in docs/BENCHMARKS.md:
//
//   codec_bench compress FILE spaceless|words0|words128 [THREADS] [RUNS]
//       counting pass alone, then whole compressions (count, code, header),
//       and the process's peak resident memory (give RUNS 0 to measure
//       only the whole compression's: then it runs once);
//   codec_bench decompress FILE.hwz [RUNS]
//       reading the header and dictionary, building the per-rank records,
//       and whole decodings into memory that is already mapped (decoding
//       alone), into fresh memory (decoding with its page faults), and
//       streamed through a small buffer, as the decompress command does.
//
// Prints wall and CPU seconds (best of RUNS), and nanoseconds per token
// (codeword) and per text byte.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "codec/compress.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "wordmodel/hcount.h"
#include "wordmodel/hdecode.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hmodel_free.h"

namespace {

struct Mapped {
  const unsigned char* data = nullptr;
  size_t size = 0;
  explicit Mapped(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
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

double Cpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Wall() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Best {
  double wall = 1e30, cpu = 1e30;
  void add(double w, double c) {
    wall = std::min(wall, w);
    cpu = std::min(cpu, c);
  }
};

void Print(const char* pass, const Best& b, double tokens, double bytes) {
  std::printf("%-28s wall %8.4f s  cpu %8.4f s  %6.2f ns/token  %6.3f ns/byte\n", pass, b.wall, b.cpu,
              b.cpu * 1e9 / tokens, b.cpu * 1e9 / bytes);
}

template <class F>
Best Time(int runs, F f) {
  Best b;
  for (int r = 0; r < runs; ++r) {
    double w0 = Wall(), c0 = Cpu();
    f();
    b.add(Wall() - w0, Cpu() - c0);
  }
  return b;
}

int Decompress(const char* path, int runs) {
  Mapped file(path);
  if (!file.data) return std::perror(path), 1;
  const int32_t length = static_cast<int32_t>(file.size);
  int32_t text_length = 0, body_length = 0;
  const unsigned char* body = nullptr;
  Best read = Time(runs, [&] {
    HModel model;
    HContainer_read(file.data, length, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
    HModel_free(&model, false);
  });
  Best table = Time(runs, [&] {
    HModel model;
    HContainer_read(file.data, length, &text_length, &body, &body_length, &model, HVocabulary::kBlankOnly);
    HDecode_buildTable(&model);
    HModel_free(&model, false);
  });
  table.wall -= read.wall;
  table.cpu -= read.cpu;
  double tokens = 0;
  for (int32_t i = 0; i < body_length; ++i) tokens += body[i] >> 7;
  const size_t room = static_cast<size_t>(text_length) + 64;
  unsigned char* warm = static_cast<unsigned char*>(std::malloc(room));
  std::memset(warm, 0, room);
  int32_t out_length = 0;
  Best decode = Time(runs, [&] { HDecompress_fileInto(file.data, length, warm, text_length, &out_length, 0); });
  Best faulting = Time(runs, [&] {
    void* fresh = ::mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    HDecompress_fileInto(file.data, length, static_cast<unsigned char*>(fresh), text_length, &out_length, 0);
    ::munmap(fresh, room);
  });
  std::free(warm);
  // As the decompress command decodes: into a small buffer handed to a sink
  // (here one that only sums a byte, so that the pieces are read).
  unsigned sum = 0;
  HDecodeSink sink = [&sum](const unsigned char* text, int64_t n) { sum += text[n - 1]; };
  Best streamed = Time(runs, [&] { HDecompress_fileStream(file.data, length, sink, &out_length, 0); });
  std::printf("%s: %d bytes, body %d bytes, %.0f codewords, text %d bytes\n", path, length, body_length, tokens,
              out_length);
  Print("header and dictionary", read, tokens, text_length);
  Print("per-rank records", table, tokens, text_length);
  Print("whole, mapped output", decode, tokens, text_length);
  Print("whole, fresh output", faulting, tokens, text_length);
  Print("whole, streamed", streamed, tokens, text_length);
  if (sum == 1) std::printf("\n");  // keeps the sum
  return 0;
}

int Compress(const char* path, const std::string& model_name, int threads, int runs) {
  Mapped file(path);
  if (!file.data) return std::perror(path), 1;
  const int32_t length = static_cast<int32_t>(file.size);
  const bool spaceless = model_name == "spaceless";
  const int32_t distance = model_name == "words128" ? 128 : 0;
  double tokens = 0;
  const bool peak_only = runs == 0;
  Best count = Time(peak_only ? 0 : runs, [&] {
    HModel model;
    HHashtable_create(&model, length / 1000 + 5);
    HCountResult counted;
    HCount_text(file.data, length, spaceless, threads, &model, &counted, nullptr, distance);
    tokens = 0;
    for (const HCountStretch& s : counted.stretches) {
      for (int32_t c : s.counts) tokens += c;
      tokens -= static_cast<double>(s.dropped_blanks);
    }
    HModel_free(&model, true);
  });
  int32_t out_length = 0;
  // As the compression job does: the text's pages are given back as they
  // are counted (the peak below is the process's, the mapped text included).
  auto text_read = [&file](int32_t begin, int32_t end) {
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    uintptr_t from = reinterpret_cast<uintptr_t>(file.data + begin) & ~(page - 1);
    uintptr_t to = reinterpret_cast<uintptr_t>(file.data + end);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  };
  Best whole = Time(peak_only ? 1 : runs, [&] {
    HBuffer out;
    if (spaceless) {
      Huffw_spaceless_compress(file.data, length, &out, &out_length, 0, threads, text_read);
    } else {
      Huffw_compress(file.data, length, distance, &out, &out_length, 0, threads, text_read);
    }
  });
  std::printf("%s (%s, %d threads): %d bytes, %.0f codewords, %d bytes compressed\n", path, model_name.c_str(),
              threads, length, tokens, out_length);
  if (!peak_only) Print("counting pass", count, tokens, length);
  Print("whole compression", whole, tokens, length);
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory %.1f MB = %.2f x the text\n", static_cast<double>(usage.ru_maxrss) / 1024,
              static_cast<double>(usage.ru_maxrss) * 1024 / length);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Large pages for the large buffers, as the programs ask for them.
  HBuffer_setLargeBufferHook([](void* data, size_t size) { ::madvise(data, size, MADV_HUGEPAGE); });
  if (argc >= 3 && std::strcmp(argv[1], "decompress") == 0) {
    return Decompress(argv[2], argc > 3 ? std::atoi(argv[3]) : 3);
  }
  if (argc >= 4 && std::strcmp(argv[1], "compress") == 0) {
    return Compress(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 1, argc > 5 ? std::atoi(argv[5]) : 3);
  }
  std::fprintf(stderr, "usage: codec_bench compress FILE spaceless|words0|words128 [THREADS] [RUNS]\n"
                       "       codec_bench decompress FILE.hwz [RUNS]\n");
  return 2;
}
