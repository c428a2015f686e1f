// Arbitrary non-empty bytes, compressed under both models, must decompress
// to exactly the same bytes. A small input never exceeds a limit of the
// format, so any failure on the way is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/compress.h"
#include "codec/decompress.h"
#include "wordmodel/hlog.h"

namespace {

[[noreturn]] void Finding(const char* model, const char* what, const char* detail) {
  std::fprintf(stderr, "roundtrip_fuzz (%s model): %s%s%s\n", model, what, detail ? ": " : "", detail ? detail : "");
  std::abort();
}

template <typename Compress, typename Decompress>
void RoundTrip(const char* model, const uint8_t* data, int32_t length, Compress compress, Decompress decompress) {
  HBuffer file;
  int32_t file_length = 0;
  try {
    compress(data, length, &file, &file_length);
  } catch (const HFatalFailure& failure) {
    Finding(model, "compression failed", failure.what());
  }
  HBuffer text;
  int32_t text_length = 0;
  try {
    decompress(file.get(), file_length, &text, &text_length, 0);
  } catch (const HFatalFailure& failure) {
    Finding(model, "decompression failed", failure.what());
  }
  if (text_length != length || std::memcmp(text.get(), data, static_cast<size_t>(length)) != 0) {
    Finding(model, "decompressed text differs from the input", nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FILE* sink = std::fopen("/dev/null", "w");
  HLog_setStreams(sink, sink);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 16)) return 0;
  const int32_t length = static_cast<int32_t>(size);
  // The first input byte picks the auxiliary pointer distance (0: none).
  const int32_t distance = data[0] % 17;
  RoundTrip("words", data, length, [distance](const uint8_t* t, int32_t n, HBuffer* out, int32_t* out_length) {
    Huffw_compress(t, n, distance, out, out_length, 0);
  }, Huffw_decompress);
  RoundTrip("spaceless", data, length, [](const uint8_t* t, int32_t n, HBuffer* out, int32_t* out_length) {
    Huffw_spaceless_compress(t, n, out, out_length, 0);
  }, Huffw_spaceless_decompress);
  RoundTrip("unicode words", data, length, [distance](const uint8_t* t, int32_t n, HBuffer* out, int32_t* out_length) {
    Huffw_unicode_compress(t, n, distance, out, out_length, 0);
  }, Huffw_unicode_decompress);
  RoundTrip("unicode spaceless", data, length, [](const uint8_t* t, int32_t n, HBuffer* out, int32_t* out_length) {
    Huffw_unicode_spaceless_compress(t, n, out, out_length, 0);
  }, Huffw_unicode_spaceless_decompress);
  return 0;
}
