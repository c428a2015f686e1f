// Helpers shared by the unit tests: captured log streams, exact checks of
// fatal failures, and short ways to compress, parse and decode byte strings.
#ifndef MORAVINE_TESTS_TEST_SUPPORT_H_
#define MORAVINE_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <unordered_map>
#include <sstream>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "wordmodel/hcodeword.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/htoken.h"
#include "wordmodel/hmodel_free.h"

namespace mtest {

using Bytes = std::string;  // holds any byte values
using V = std::vector<Bytes>;

inline const unsigned char* U(const Bytes& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
inline int32_t L(const Bytes& s) { return static_cast<int32_t>(s.size()); }
inline Bytes Str(const unsigned char* p, int32_t n) { return n > 0 ? Bytes(reinterpret_cast<const char*>(p), n) : ""; }

// Generated inputs are smaller under the sanitizers.
#ifdef MORAVINE_TEST_SMALL
constexpr int kScale = 8;
#else
constexpr int kScale = 1;
#endif

// "00 0a ff" -> those three bytes.
inline Bytes Hex(const std::string& hex) {
  Bytes out;
  std::istringstream in(hex);
  for (unsigned v; in >> std::hex >> v;) out.push_back(static_cast<char>(v));
  return out;
}

// prefix and the decimal i. (GCC 12 misreports "literal" + std::string&&
// under -O3 -Werror=restrict, so the tests never write it that way.)
inline Bytes Word(const char* prefix, long i) { return Bytes(prefix).append(std::to_string(i)); }

// Quoted, with escapes for other bytes.
inline std::string Escape(const std::string& s) { return ::testing::PrintToString(s); }

inline Bytes Compress(const Bytes& text, int rule, int32_t distance = 0, int32_t level = 0) {
  HBuffer out;
  int32_t n = 0;
  HCompress_rule(U(text), L(text), rule, distance, &out, &n, level);
  return Str(out.get(), n);
}

// Decodes from an exact-size heap copy, so that the sanitizers see any read
// beyond the file.
inline Bytes Decompress(const Bytes& file, int rule, int32_t level = 0) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
  std::memcpy(copy.get(), file.data(), file.size());
  HBuffer out;
  int32_t n = 0;
  switch (rule) {
    case 0: Huffw_decompress(copy.get(), L(file), &out, &n, level); break;
    case 2: Huffw_unicode_decompress(copy.get(), L(file), &out, &n, level); break;
    case 3: Huffw_unicode_spaceless_decompress(copy.get(), L(file), &out, &n, level); break;
    default: Huffw_spaceless_decompress(copy.get(), L(file), &out, &n, level); break;
  }
  return Str(out.get(), n);
}

// Decodes as the decompress command does, the text handed over a piece at a
// time; *pieces receives their number.
inline Bytes DecompressStreamed(const Bytes& file, int* pieces = nullptr) {
  std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size()]);
  std::memcpy(copy.get(), file.data(), file.size());
  Bytes out;
  int count = 0;
  int32_t n = -1;
  HDecodeSink sink = [&](const unsigned char* text, int64_t length) {
    EXPECT_GT(length, 0) << "no empty piece";
    out.append(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    ++count;
  };
  HDecompress_fileStream(copy.get(), L(file), sink, &n, 0);
  EXPECT_EQ(n, L(out));
  if (pieces) *pieces = count;
  return out;
}

// 32-bit big-endian fields of a compressed file.
inline uint32_t Field(const Bytes& file, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(file[at + i]);
  return v;
}
inline Bytes WithField(Bytes file, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) file[at + i] = static_cast<char>(v >> (24 - 8 * i));
  return file;
}

// The model of a compressed file, as the decompressor rebuilds it.
struct Parsed {
  std::unique_ptr<unsigned char[]> bytes;
  HModel model;
  const unsigned char* body = nullptr;
  int32_t body_length = 0, text_length = 0;
  explicit Parsed(const Bytes& file) : bytes(new unsigned char[file.size()]) {
    std::memcpy(bytes.get(), file.data(), file.size());
    HDecompress_getBodyAndConsole(bytes.get(), L(file), &text_length, &body, &body_length, &model);
  }
  ~Parsed() { HModel_free(&model, false); }
  const HNode* entry(const Bytes& token) const { return HHashtable_lookup(U(token), L(token), &model.vocabulary); }
};

// The tokens of a body, codeword by codeword.
inline V BodyTokens(const unsigned char* body, int32_t length, const HModel& model) {
  V tokens;
  HBuffer token;
  int32_t n = 0, cw = 0;
  for (int32_t p = 0; HToken_TaggedGetNext(body + p, length - p, &model, &token, &n, &cw); p += cw) {
    tokens.push_back(Str(token.get(), n));
  }
  return tokens;
}

// 2^stages distinct words of 4 * stages letters and digits that all share
// one documented hash value (HHashtable_hashValue): each stage appends one
// of two 4-character blocks that lead from the same hash state to the same
// state, found by a birthday search.
inline V CraftedCollisions(int stages) {
  static const char kAlnum[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::mt19937 rng(7);
  int32_t h = kHHashSeed;
  V words = {""};
  for (int s = 0; s < stages; ++s) {
    std::unordered_map<int32_t, Bytes> seen;
    for (;;) {
      Bytes block(4, ' ');
      for (char& c : block) c = kAlnum[rng() % 62];
      int32_t out = h;
      for (char c : block) out = HHashtable_hashStep(out, static_cast<unsigned char>(c));
      auto [it, fresh] = seen.emplace(out, block);
      if (!fresh && it->second != block) {
        V next;
        for (const Bytes& w : words) next.push_back(w + it->second);
        for (const Bytes& w : words) next.push_back(w + block);
        words.swap(next);
        h = out;
        break;
      }
    }
  }
  return words;
}

// Sends the library's report and error streams to temporary files.
class LibTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(report_ && error_);
    HLog_setStreams(report_, error_);
  }
  void TearDown() override {
    HLog_setStreams(nullptr, nullptr);
    for (FILE* f : {report_, error_}) if (f) std::fclose(f);
  }

  // What the report stream received since the last call.
  std::string TakeReport() { return Take(report_); }

  // f must raise HFatalFailure with exactly `message` and write exactly that
  // to the error stream.
  template <class F>
  ::testing::AssertionResult Fails(F&& f, const std::string& message) {
    Take(error_);
    try {
      f();
    } catch (const HFatalFailure& e) {
      std::string logged = Take(error_);
      if (e.what() == message && logged == message) return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << "failed with " << Escape(e.what()) << ", logged " << Escape(logged)
                                           << ", expected " << Escape(message);
    }
    return ::testing::AssertionFailure() << "no failure, expected " << Escape(message);
  }

 private:
  std::string Take(FILE* f) {
    long& pos = f == report_ ? report_pos_ : error_pos_;
    std::fflush(f);
    std::fseek(f, pos, SEEK_SET);
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    std::fseek(f, 0, SEEK_END);  // the library writes next
    pos = std::ftell(f);
    return out;
  }

  FILE* report_ = std::tmpfile();
  FILE* error_ = std::tmpfile();
  long report_pos_ = 0, error_pos_ = 0;
};

}  // namespace mtest

#endif  // MORAVINE_TESTS_TEST_SUPPORT_H_
