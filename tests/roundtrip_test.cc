// Compression followed by decompression gives back every byte, under both
// models, for the sample books (and the Canterbury and Calgary sets when
// present) and for texts built to hit the code's corners; the two bodies
// agree, and so do blocks decoded from any boundary.
#include <algorithm>
#include <functional>
#include <mutex>
#include <random>
#include <vector>

#include "codec/block.h"
#include "codec/decompress.h"
#include "test_support.h"
#include "tests/samples.h"

namespace mtest {
namespace {

class RoundTripTest : public LibTest {};

void ExpectRoundTrip(const Bytes& text, int32_t distance = 128) {
  for (int rule : {0, 1}) {
    Bytes file = Compress(text, rule, distance);
    Bytes back = Decompress(file, rule);
    ASSERT_EQ(back.size(), text.size()) << "rule " << rule;
    auto diff = std::mismatch(back.begin(), back.end(), text.begin()).first;
    ASSERT_TRUE(diff == back.end()) << "rule " << rule << ", first difference at " << (diff - back.begin());
    // Decoding into an area of exactly the text's size (the output file's
    // mapping) fits; one byte less is refused, not overrun.
    std::vector<unsigned char> area(text.size());
    int32_t n = 0;
    ASSERT_TRUE(HDecompress_fileInto(U(file), L(file), area.data(), L(text), &n, 0)) << "rule " << rule;
    ASSERT_TRUE(n == L(text) && Str(area.data(), n) == text) << "rule " << rule;
    ASSERT_FALSE(HDecompress_fileInto(U(file), L(file), area.data(), L(text) - 1, &n, 0)) << "rule " << rule;
    ASSERT_TRUE(DecompressStreamed(file) == text) << "rule " << rule;
  }
}

TEST_F(RoundTripTest, SampleBooks) {
  for (const samples::Text& book : samples::Books()) {
    SCOPED_TRACE(book.name);
    ExpectRoundTrip(book.bytes);
  }
}

#ifdef MORAVINE_CORPUS_DIR
TEST_F(RoundTripTest, CanterburyAndCalgarySets) {
  for (const samples::Text& file : samples::CorpusFiles()) {
    SCOPED_TRACE(file.name);
    ExpectRoundTrip(file.bytes);
  }
}
#endif

// The vocabulary's seed is random per process; the file must not depend on
// it. Many tokens of equal frequency make the order of ties decide the code.
TEST_F(RoundTripTest, FileBytesDoNotDependOnTheTableSeed) {
  Bytes crafted;
  const V words = CraftedCollisions(11);
  for (size_t i = 0; i < words.size(); ++i) crafted += words[i] + (i % 7 ? " " : ".\n") + words[i % 300] + " ";
  const V texts = {crafted, samples::Read("tom-sawyer.txt")};
  const uint64_t original = HHashtable_processSeed();
  for (const Bytes& text : texts) {
    for (int rule : {0, 1}) {
      HHashtable_setProcessSeed(1);
      const Bytes reference = Compress(text, rule, 128);
      for (uint64_t seed : {uint64_t{0xdeadbeef}, uint64_t{0x123456789abcdef}, original}) {
        HHashtable_setProcessSeed(seed);
        ASSERT_EQ(Compress(text, rule, 128), reference) << "rule " << rule << ", seed " << seed;
      }
    }
  }
  HHashtable_setProcessSeed(original);
}

// Counting and coding run in stretches, one per thread; the file is the same
// whatever the number of threads, under both models.
TEST_F(RoundTripTest, FileBytesDoNotDependOnTheThreadCount) {
  // Stretches are 1 MiB at least: two of them, or up to four.
  const Bytes text = samples::Long((kScale > 1 ? size_t{2} : size_t{4}) << 20);
  HBuffer out;
  int32_t n = 0;
  auto compress = [&](int rule, int32_t distance, int32_t threads) {
    if (rule == 0) Huffw_compress(U(text), L(text), distance, &out, &n, 0, threads);
    else Huffw_spaceless_compress(U(text), L(text), &out, &n, 0, threads);
    return Str(out.get(), n);
  };
  for (auto [rule, distance] : {std::pair{1, 0}, std::pair{0, 0}, std::pair{0, 128}}) {
    const Bytes one = compress(rule, distance, 1);
    for (int32_t threads : {2, 3, 4}) {
      ASSERT_EQ(compress(rule, distance, threads), one) << "rule " << rule << ", distance " << distance << ", threads "
                                                         << threads;
    }
    ASSERT_EQ(Decompress(one, rule), text);
  }
}

// Room given for the file receives exactly the file the function would
// return, asked for once and with the file's size; refused room leaves the
// file in memory as usual. Words of 23 bytes against a distance of 16
// leave some marks without a pair: the size counts only the pairs made.
TEST_F(RoundTripTest, FileGoesIntoTheRoomGivenForIt) {
  Bytes text = Word("the whale and the sea ", 7) + "\nmore text, more words\n";
  for (int i = 0; i < 40; ++i) text += Word("incomprehensibilities", i) + " ";
  for (int rule : {0, 1}) {
    const Bytes expected = Compress(text, rule, 16);
    std::vector<unsigned char> room;
    int asked = 0;
    HOutputSpace give = [&](int64_t size) {
      ++asked;
      room.assign(static_cast<size_t>(size), 0xEE);
      return room.data();
    };
    HOutputSpace refuse = [&](int64_t) -> unsigned char* {
      ++asked;
      return nullptr;
    };
    HBuffer out;
    int32_t n = 0;
    if (rule == 0) Huffw_compress(U(text), L(text), 16, &out, &n, 0, 2, nullptr, give);
    else Huffw_spaceless_compress(U(text), L(text), &out, &n, 0, 2, nullptr, give);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(out);
    ASSERT_EQ(room.size(), expected.size());
    ASSERT_EQ(n, L(expected));
    EXPECT_EQ(Str(room.data(), n), expected);
    if (rule == 0) Huffw_compress(U(text), L(text), 16, &out, &n, 0, 2, nullptr, refuse);
    else Huffw_spaceless_compress(U(text), L(text), &out, &n, 0, 2, nullptr, refuse);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(Str(out.get(), n), expected);
  }
}

// The text is handed back part by part as counting passes it: every byte
// exactly once, whatever the number of threads, and never read again (a
// text overwritten as it is handed back still gives the same file).
// The pointers are walked stretch by stretch, each walk assuming that no
// long token before its stretch held the marks back. Lines of one token
// far longer than the distance do hold them back, at some seams and not at
// others; the file stays the one that a single walk gives.
TEST_F(RoundTripTest, PointersDoNotDependOnTheThreadCountAfterLongTokens) {
  Bytes text;
  for (int line = 0; L(text) < (9 << 19); ++line) {
    if (line % 50 < 20) {
      text += Bytes(static_cast<size_t>(2000 + line % 7), static_cast<char>('a' + line % 3));
    } else {
      for (int w = 0; w < 12; ++w) text += Word("w", (line * 12 + w) % 3000) + " ";
    }
    text += "\n";
  }
  HBuffer out;
  int32_t n = 0;
  for (int32_t distance : {16, 128, 5000}) {
    Huffw_compress(U(text), L(text), distance, &out, &n, 0, 1);
    const Bytes one = Str(out.get(), n);
    for (int32_t threads : {2, 3, 4}) {
      Huffw_compress(U(text), L(text), distance, &out, &n, 0, threads);
      ASSERT_TRUE(Str(out.get(), n) == one) << "distance " << distance << ", threads " << threads;
    }
    ASSERT_TRUE(Decompress(one, 0) == text) << "distance " << distance;
  }
}

TEST_F(RoundTripTest, CountedTextIsHandedBackOnceAndNotReadAgain) {
  // Beyond 8 MiB, counting hands the text back in several parts per stretch.
  const Bytes text = samples::Long((kScale > 1 ? size_t{4} : size_t{12}) << 20);
  for (int rule : {1, 0}) {
    const Bytes reference = Compress(text, rule, 128);
    for (int32_t threads : {1, 3}) {
      Bytes copy = text;
      std::mutex lock;
      std::vector<std::pair<int32_t, int32_t>> parts;
      HTextRead text_read = [&](int32_t begin, int32_t end) {
        std::lock_guard<std::mutex> hold(lock);
        parts.emplace_back(begin, end);
        // Other threads may still read just past their own parts.
        if (threads == 1) std::fill(copy.begin() + begin, copy.begin() + end, '#');
      };
      HBuffer out;
      int32_t n = 0;
      if (rule == 1) Huffw_spaceless_compress(U(copy), L(copy), &out, &n, 0, threads, text_read);
      else Huffw_compress(U(copy), L(copy), 128, &out, &n, 0, threads, text_read);
      ASSERT_EQ(Str(out.get(), n), reference) << "rule " << rule << ", threads " << threads;
      std::sort(parts.begin(), parts.end());
      int32_t covered = 0;
      for (auto [begin, end] : parts) {
        ASSERT_EQ(begin, covered) << "rule " << rule << ", threads " << threads;
        ASSERT_LE(begin, end);
        covered = end;
      }
      ASSERT_EQ(covered, L(text)) << "rule " << rule << ", threads " << threads;
#ifndef MORAVINE_TEST_SMALL
      if (threads == 1) {
        ASSERT_GT(parts.size(), 1u) << "rule " << rule;  // handed back while counting
      }
#endif
    }
  }
}

// A text of 2^31 - 1 bytes, the longest that compression accepts, decodes
// in full, into a fixed area and into a growing buffer. The files are made
// by hand from a small one: long words repeated, so that the body stays
// small. Needs 2 GiB of memory, so the sanitizer build leaves it out.
#ifndef MORAVINE_TEST_SMALL
TEST_F(RoundTripTest, TextOfTheLargestAcceptedLengthDecodes) {
  auto be32 = [](uint32_t v) { return WithField(Bytes(4, '\0'), 0, v); };
  // The small file's body replaced by `count` codewords of the first word
  // and one of the second; the header states the longest text.
  auto repeated = [&](int rule, const Bytes& first, const Bytes& second, uint32_t count) {
    Bytes file = Compress(first + (rule == 0 ? "\n" : " ") + second, rule);
    Parsed p(file);
    const size_t body_at = file.size() - static_cast<size_t>(p.body_length);
    Bytes body(count, static_cast<char>(p.entry(first)->codeword));
    body += static_cast<char>(p.entry(second)->codeword);
    return WithField(file.substr(0, body_at - 4), 1, INT32_MAX) + be32(L(body)) + body;
  };
  constexpr int64_t kMax = INT32_MAX;
  {
    // 32767 words of 65536 bytes and one of 65535.
    const Bytes file = repeated(0, Bytes(65536, 'a'), Bytes(65535, 'b'), 32767);
    std::unique_ptr<unsigned char[]> area(new unsigned char[kMax]);
    int32_t n = 0;
    ASSERT_TRUE(HDecompress_fileInto(U(file), L(file), area.get(), kMax, &n, 0));
    ASSERT_EQ(n, kMax);
    EXPECT_EQ(area[0], 'a');
    EXPECT_EQ(area[kMax - 65536], 'a');
    EXPECT_TRUE(std::all_of(area.get() + kMax - 65535, area.get() + kMax, [](unsigned char c) { return c == 'b'; }));
  }
  {
    // Spaceless: 32768 words of 65535 bytes with the 32767 blanks between them.
    const Bytes file = repeated(1, Bytes(65535, 'a'), Bytes(65535, 'b'), 32767);
    HBuffer out;
    int32_t n = 0;
    Huffw_spaceless_decompress(U(file), L(file), &out, &n, 0);
    ASSERT_EQ(n, kMax);
    EXPECT_EQ(Str(out.get() + 65534, 3), "a a");
    EXPECT_EQ(Str(out.get() + kMax - 65537, 3), "a b");
    EXPECT_EQ(out[kMax - 1], 'b');
  }
}
#endif

TEST_F(RoundTripTest, GeneratedTexts) {
  std::mt19937 rng(2024);
  Bytes noise(200000 / kScale, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  ExpectRoundTrip(noise, 1);
  // Mostly text, with CR LF line ends, zero bytes and bytes from 0x80 up.
  const V pieces = {"caf\xE9", " ", "\r\n", "word", Bytes(1, '\0'), "\xFF\xFE", "x1", "  ", "\t"};
  Bytes mixed;
  for (int i = 0; i < 100000 / kScale; ++i) mixed += pieces[rng() % pieces.size()];
  ExpectRoundTrip(mixed + Bytes(2, '\0'), 3);

  for (int c : {0x61, 0x20, 0x0A, 0x0D, 0x00, 0x80, 0xFF}) ExpectRoundTrip(Bytes(1, static_cast<char>(c)));
  for (const char* s : {"  ", " a", "a ", "a b ", " a b", "a \n", "a b\n", "\n a", "a  b", "1 2 3", "\n\n"}) {
    SCOPED_TRACE(Escape(s));
    ExpectRoundTrip(s, 1);
  }
  ExpectRoundTrip(Bytes(30000 / kScale, '\n'));
  ExpectRoundTrip(Bytes(2000000 / kScale, 'x'));                      // one huge word
  ExpectRoundTrip(Bytes("a").append(1000000 / kScale, '-') + "b\n");  // one huge separator
  Bytes no_blanks;
  for (int i = 0; i < 5000; ++i) no_blanks += Word("line", i % 300) + (i % 3 ? ",\n" : "\n");
  ExpectRoundTrip(no_blanks);
}

// 127, 254 and 255 tokens leave 128, 128 and 127 filler leaves in the tree;
// 128 of them form an inner node of weight 0. Frequencies 1, 3, 130 and 521
// in groups of 127 words chain the first Huffman tree five levels deep.
TEST_F(RoundTripTest, VocabularySizesAroundMultiplesOf127AndRescaling) {
  for (int tokens : {127, 128, 254, 255, 381, 382}) {
    Bytes text;
    for (int i = 0; i < tokens - 1; ++i) text += Word("q", i) + (i % 4 ? " " : " q0 q1 ");
    ASSERT_EQ(Field(Compress(text, 0), 5), static_cast<uint32_t>(tokens));
    SCOPED_TRACE(tokens);
    ExpectRoundTrip(text);
  }
  V r;
  for (int i = 0; i < 509; ++i) r.insert(r.end(), i < 129 ? 1 : i < 256 ? 3 : i < 383 ? 130 : 521, Word("r", i));
  std::shuffle(r.begin(), r.end(), std::mt19937(5));
  Bytes text;
  for (const Bytes& w : r) text += w + " ";
  EXPECT_EQ(Field(Compress(text, 0), 5), 510u);
  EXPECT_LE(Field(Compress(text, 0), 9), 4u);
  ExpectRoundTrip(text);
}

// The spaceless body is the words-and-separators body without the blanks
// that stand between two words, and expanding it gives the full body back.
TEST_F(RoundTripTest, SpacelessBodyIsTheContractedFullBody) {
  Parsed b(Compress(" a b, c  d \n", 1));
  EXPECT_EQ(BodyTokens(b.body, b.body_length, b.model), (V{" ", "a", "b", ", ", "c", "  ", "d", " ", "\n"}));
  EXPECT_EQ(Field(Compress("a b", 1), 5), 3u);  // the blank is still in the vocabulary

  V texts = {"a b \nc , d  e f ", " a b", "a b ", "a \n\n b", "a\nb,c\n"};  // the last without a blank token
  for (const samples::Text& book : samples::Books()) texts.push_back(book.bytes);
  HBuffer contracted, expanded;
  int32_t contracted_length, expanded_length;
  for (const Bytes& text : texts) {
    SCOPED_TRACE(Escape(text.substr(0, 20)));
    Parsed full(Compress(text, 0)), spaceless(Compress(text, 1));
    HCompress_contractSpaces(full.body, full.body_length, &contracted, &contracted_length, &full.model);
    const unsigned char* result = contracted ? contracted.get() : full.body;  // no blank: the body itself
    ASSERT_EQ(Str(result, contracted_length), Str(spaceless.body, spaceless.body_length));
    HDecompress_expandSpaces(spaceless.body, spaceless.body_length, &expanded, &expanded_length, &spaceless.model);
    result = expanded ? expanded.get() : spaceless.body;
    ASSERT_EQ(Str(result, expanded_length), Str(full.body, full.body_length));
    EXPECT_EQ(contracted == nullptr, text == "a\nb,c\n");
  }
  EXPECT_TRUE(Fails([&] { HCompress_contractSpaces(nullptr, 0, &contracted, &contracted_length, nullptr); },
                    "Fatal Error: You're trying to compress an empty file! (HCompress_contractSpaces)\n"));
}

bool IsWord(const Bytes& token) { return HToken_isWordByte(static_cast<unsigned char>(token[0])); }

// Whole-file decoding takes long runs of codewords 64 body bytes at a time
// and leaves tokens of more than 14 bytes, the end of the body and the end
// of the output to a codeword-by-codeword path. A text with codewords of
// every length, long words and long separators among short ones decodes
// exactly; a body damaged anywhere decodes, or fails, exactly as decoding
// its codewords one by one does.
TEST_F(RoundTripTest, FastDecodingMatchesTheCodewordSequenceAndItsFailures) {
  std::mt19937 rng(77);
  Bytes text;
  const V separators = {" ", " ", " ", ", ", ".\n", "\n\n", " -- ", " ................ ", "\r\n   \t\t   \r\n"};
  while (text.size() < 400000) {  // a body above 64 KiB, codewords of three bytes
    uint32_t r = rng();
    long rank = static_cast<long>((r % 1000) * (r % 1000) * ((r >> 10) % 1000) / 10000);  // skewed: mostly small
    text += r % 97 == 0 ? Word("incomprehensibilities", rank % 500) : Word(r % 3 ? "w" : "longerword", rank);
    text += separators[(r >> 20) % separators.size()];
  }
  ExpectRoundTrip(text);
  for (int rule : {0, 1}) {
    const Bytes file = Compress(text, rule, 0);
    Parsed p(file);
    ASSERT_GE(p.model.codetable.max_cw_length, 3) << "rule " << rule;
    ASSERT_GT(p.body_length, 1 << 16) << "rule " << rule;  // large enough for the per-rank records
    const size_t body_at = static_cast<size_t>(p.body - p.bytes.get());
    // What decoding the codewords one by one gives: the text or a failure.
    auto reference = [&](const Bytes& damaged) -> std::pair<Bytes, std::string> {
      Parsed d(damaged);
      try {
        V tokens = BodyTokens(d.body, d.body_length, d.model);
        Bytes out;
        for (size_t t = 0; t < tokens.size(); ++t) {
          if (rule == 1 && t > 0 && IsWord(tokens[t - 1]) && IsWord(tokens[t])) out += ' ';
          out += tokens[t];
        }
        return {out, ""};
      } catch (const HFatalFailure& e) {
        return {"", e.what()};
      }
    };
    std::vector<std::function<void(Bytes&, size_t)>> damages = {
        [](Bytes& f, size_t at) { f[at] = static_cast<char>(f[at] ^ 0x80); },  // a tag gained or lost
        [](Bytes& f, size_t at) {  // a codeword of five bytes or more
          for (size_t k = 1; k <= 5 && at + k < f.size(); ++k) f[at + k] = static_cast<char>(f[at + k] & 0x7F);
        },
        [](Bytes& f, size_t at) {  // 64 bytes and more without a tag
          for (size_t k = 1; k <= 70 && at + k < f.size(); ++k) f[at + k] = 0x01;
        },
        [](Bytes& f, size_t at) {  // the largest four-byte codeword, beyond every rank
          f[at] = static_cast<char>(0xFF);
          for (size_t k = 1; k <= 3 && at + k < f.size(); ++k) f[at + k] = 0x7F;
        },
    };
    const int places = 24 / kScale + 4;
    for (int i = 0; i < places; ++i) {
      // Anywhere in the body, the last bytes included.
      size_t at = body_at + (i < places - 4 ? 1 + rng() % static_cast<uint32_t>(p.body_length - 1)
                                            : static_cast<uint32_t>(p.body_length - 1 - 3 * (places - 1 - i)));
      for (size_t d = 0; d < damages.size(); ++d) {
        Bytes damaged = file;
        damages[d](damaged, at);
        auto [expected, failure] = reference(damaged);
        SCOPED_TRACE("rule " + std::to_string(rule) + ", damage " + std::to_string(d) + " at body offset " +
                     std::to_string(at - body_at));
        // A text of another length than the header's is refused as well:
        // one that runs past it may be refused before a malformed codeword
        // further on is reached.
        const int32_t stated = L(text);
        const std::string who = rule == 0 ? "Huffw_decompress" : "Huffw_spaceless_decompress";
        const std::string too_long =
            "Error: body decodes to more than the " + std::to_string(stated) + " bytes of text the header states (" +
            who + ")\n";
        if (failure.empty() && L(expected) < stated) {
          failure = "Error: body decodes to " + std::to_string(L(expected)) + " bytes of text, the header states " +
                    std::to_string(stated) + " (" + who + ")\n";
        } else if (failure.empty() && L(expected) > stated) {
          failure = too_long;
        }
        if (failure.empty()) {
          ASSERT_EQ(Decompress(damaged, rule), expected);
          ASSERT_EQ(DecompressStreamed(damaged), expected);
        } else {
          ASSERT_TRUE(Fails([&] { Decompress(damaged, rule); }, failure) ||
                      Fails([&] { Decompress(damaged, rule); }, too_long));
          ASSERT_TRUE(Fails([&] { DecompressStreamed(damaged); }, failure) ||
                      Fails([&] { DecompressStreamed(damaged); }, too_long));
        }
      }
    }
  }
}

// The streamed decoder hands a large text over in many pieces, with tokens
// far longer than its buffer among ordinary ones (a blank to put back
// before a long word included), and stops at once when the sink throws.
TEST_F(RoundTripTest, StreamedDecodingInPiecesAroundLongTokens) {
  Bytes text;
  for (int i = 0; L(text) < 3000000; ++i) {
    text += Word("w", i % 4000) + (i % 11 ? " " : ",\n");
    if (i == 5000) text += Bytes(700000, 'q') + " " + Bytes(600000, '-') + "\n";
    if (i == 9000) text += "a " + Bytes(300000, 'z') + " b" + Bytes(300000, ' ') + "c\n";
  }
  for (int rule : {0, 1}) {
    const Bytes file = Compress(text, rule, 0);
    int pieces = 0;
    ASSERT_TRUE(DecompressStreamed(file, &pieces) == text) << "rule " << rule;
    EXPECT_GT(pieces, 8) << "rule " << rule;

    struct Stop {};
    int calls = 0;
    HDecodeSink stop = [&](const unsigned char*, int64_t) {
      if (++calls == 2) throw Stop{};
    };
    int32_t n = 0;
    EXPECT_THROW(HDecompress_fileStream(U(file), L(file), stop, &n, 0), Stop);
    EXPECT_EQ(calls, 2);
  }
}

using Op = void (*)(const unsigned char*, int32_t, int32_t, HBuffer*, int32_t*, int32_t*, const HModel*);
const Op kNext[] = {HDecompress_nextBlock_tokens, HDecompress_nextBlock_tokens_spaceless};
const Op kPrevious[] = {HDecompress_previousBlock_tokens, HDecompress_previousBlock_tokens_spaceless};


// The block of n words from (forward) or before (backward) body offset at,
// and the body bytes it covers.
std::pair<Bytes, int32_t> Block(Op op, const Parsed& p, int32_t at, int32_t n) {
  bool backward = op == kPrevious[0] || op == kPrevious[1];
  HBuffer text;
  int32_t length = -1, covered = -1;
  op(p.body + at, backward ? at : p.body_length - at, n, &text, &length, &covered, &p.model);
  if (text) text[length] = 0;  // the promised room for a terminator
  return {Str(text.get(), length), covered};
}

// Block decompression, as the search shows the words around a hit: every
// boundary of a body with codewords of one to three bytes, against the token
// sequence that the body encodes; no words, and a continuation byte.
TEST_F(RoundTripTest, BlocksAtEveryBoundaryMatchTheTokenSequence) {
  Bytes text;
  for (int i = 0; i < 6000 / kScale; ++i) {
    text += Word("b", i * i % 20011) + (i % 13 == 0 ? ".\n" : i % 5 == 0 ? ", " : " ");
  }
  for (int rule : {0, 1}) {
    Parsed p(Compress(text, rule));
    ASSERT_GE(p.model.codetable.max_cw_length, 2);
    V tokens = BodyTokens(p.body, p.body_length, p.model);
    std::vector<int32_t> offset = {0};
    for (int32_t at = 1; at < p.body_length; ++at) {
      if (p.body[at] & 0x80) offset.push_back(at);
    }
    ASSERT_EQ(offset.size(), tokens.size());
    offset.push_back(p.body_length);
    auto join = [&](size_t from, size_t to) {
      Bytes out;
      for (size_t t = from; t < to; ++t) {
        if (rule == 1 && t > from && IsWord(tokens[t - 1]) && IsWord(tokens[t])) out += ' ';
        out += tokens[t];
      }
      return out;
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
      for (int32_t n : {1, 3}) {
        size_t j = i, k = i;
        for (int32_t left = n; j < tokens.size() && left > 0; ++j) left -= IsWord(tokens[j]);
        for (int32_t left = n; k > 0 && left > 0;) left -= IsWord(tokens[--k]);
        ASSERT_EQ(Block(kNext[rule], p, offset[i], n), std::make_pair(join(i, j), offset[j] - offset[i])) << i;
        ASSERT_EQ(Block(kPrevious[rule], p, offset[i], n), std::make_pair(join(k, i), offset[i] - offset[k])) << i;
      }
    }
    EXPECT_EQ(Block(kNext[rule], p, 0, 0), std::make_pair(Bytes(), 0));
    int32_t inside = 1;
    while (p.body[inside] & 0x80) ++inside;
    const char* names[] = {"nextBlock_tokens", "nextBlock_tokens_spaceless", "previousBlock_tokens",
                           "previousBlock_tokens_spaceless"};
    for (int op = 0; op < 4; ++op) {
      EXPECT_TRUE(Fails([&] { Block(op < 2 ? kNext[op] : kPrevious[op - 2], p, inside, 2); },
                        std::string("Error: not a tagged byte (HDecompress_") + names[op] + ")\n"));
    }
  }
}

}  // namespace
}  // namespace mtest
