// The texts that the tests compress and search: the public-domain books of
// resources/samples/ (described in the README there), longer texts built
// from them, and, in a build that found the Canterbury and Calgary sets
// beside the project, the files of those sets.
#ifndef MORAVINE_TESTS_SAMPLES_H_
#define MORAVINE_TESTS_SAMPLES_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace samples {

struct Text {
  std::string name;   // the file's name
  std::string bytes;  // its contents
};

// The books, smallest first. Between them: CR LF and LF line ends, lines of
// up to 3.6 KB, UTF-8 punctuation and letters, figures, and a vocabulary
// that takes codewords of three bytes.
inline constexpr const char* kBooks[] = {
    "othello.txt",          // verse, CR LF, apostrophes inside words
    "climbing-plants.txt",  // prose with figures, LF, a paragraph a line
    "tom-sawyer.txt",       // a novel, CR LF, with its license text
};

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes = (std::ostringstream() << in.rdbuf()).str();
  // A test that silently got no text would check nothing.
  if (bytes.empty()) throw std::runtime_error("cannot read " + path.string());
  return bytes;
}

// A file of resources/samples/.
inline std::string Read(const std::string& name) {
  return ReadWhole(std::filesystem::path(MORAVINE_SAMPLES_DIR) / name);
}

// The books of at most max_bytes.
inline std::vector<Text> Books(size_t max_bytes = SIZE_MAX) {
  std::vector<Text> out;
  for (const char* name : kBooks) {
    std::string bytes = Read(name);
    if (bytes.size() <= max_bytes) out.push_back({name, std::move(bytes)});
  }
  return out;
}

// ASCII letters moved `by` places round the alphabet, case kept; every
// other byte as it was.
inline std::string Rotated(std::string text, int by) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + by) % 26);
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + by) % 26);
  }
  return text;
}

// A text of at least `bytes`: the books again and again, each round with
// its letters rotated one place further, so that every part of it brings
// words that the parts before it did not have, beside many that they had
// (the digits and the UTF-8 bytes stay).
inline std::string Long(size_t bytes) {
  const std::vector<Text> books = Books();
  std::string text;
  for (int round = 0; text.size() < bytes; ++round) {
    for (const Text& book : books) text += Rotated(book.bytes, round);
  }
  return text;
}

#ifdef MORAVINE_CORPUS_DIR
// The files of the Canterbury and Calgary sets, of at most max_bytes.
inline std::vector<Text> CorpusFiles(size_t max_bytes = SIZE_MAX) {
  std::vector<Text> out;
  for (const char* set : {"canterbury", "calgary"}) {
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(MORAVINE_CORPUS_DIR) / set)) {
      if (entry.file_size() <= max_bytes) out.push_back({entry.path().string(), ReadWhole(entry.path())});
    }
  }
  if (out.empty()) throw std::runtime_error("no files in " MORAVINE_CORPUS_DIR);
  return out;
}
#endif

}  // namespace samples

#endif  // MORAVINE_TESTS_SAMPLES_H_
