// The last look before a removal: a file edited, replaced or taken away
// between the comparison and the deletion stays, alone or in a group.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "shell/removal.h"
#include "tests/shell/edit_in_place.h"

namespace removaltest {
namespace {

namespace fs = std::filesystem;
using namespace moravine;
using shelltest::EditInPlace;

std::string Read(const std::string& path) {
  return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void Write(const std::string& path, const std::string& data) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::string Archive(const std::string& text) {
  HBuffer out;
  int32_t n = 0;
  Huffw_spaceless_compress(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int32_t>(text.size()),
                           &out, &n, 0);
  return std::string(reinterpret_cast<const char*>(out.get()), static_cast<size_t>(n));
}

// About `bytes` bytes of text, different for each seed.
std::string Text(int seed, size_t bytes) {
  std::string s;
  for (int k = 0; s.size() < bytes; ++k) s += "word" + std::to_string((k * 7 + seed) % 31) + (k % 9 ? " " : ",\n");
  return s;
}

class Removal : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "moravine-removal-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = fs::canonical(name).string();
  }
  void TearDown() override {
    SetRemovalCheckHook(nullptr);
    fs::remove_all(dir_);
  }

  // Writes NAME and NAME.hwz holding the same text; returns NAME's path.
  std::string Pair(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    Write(path, text);
    Write(path + ".hwz", Archive(text));
    return path;
  }

  std::string dir_;
};

// What happens to a pair (named by its original) just before the last look.
struct Interference {
  const char* what;
  std::function<void(const std::string& doomed, const std::string& kept)> act;
  RemovalResult::Outcome outcome;
  std::string why;
};

TEST_F(Removal, ChangesJustBeforeTheDeletionKeepTheFile) {
  const std::string changed = "The files changed while they were compared.";
  const std::string replaced = "The files were replaced while they were compared.";
  const std::vector<Interference> cases = {
      {"nothing", [](const std::string&, const std::string&) {}, RemovalResult::kRemoved, ""},
      {"the file to remove edited in place", [](const std::string& doomed, const std::string&) { EditInPlace(doomed); },
       RemovalResult::kKept, changed},
      {"the file kept edited in place", [](const std::string&, const std::string& kept) { EditInPlace(kept); },
       RemovalResult::kKept, changed},
      {"the name of the file to remove given to a copy",
       [](const std::string& doomed, const std::string&) {
         fs::copy_file(doomed, doomed + ".copy");
         fs::rename(doomed + ".copy", doomed);
       },
       RemovalResult::kKept, replaced},
      {"the file kept removed", [](const std::string&, const std::string& kept) { fs::remove(kept); },
       RemovalResult::kNothingToDo, ""},
  };
  // Small files are read into memory, large ones mapped.
  for (size_t bytes : {size_t{3000}, size_t{400000}}) {
    for (bool originals : {true, false}) {
      for (const Interference& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (originals ? ", remove-original, " : ", remove-compressed, ") +
                     std::to_string(bytes) + " bytes");
        const std::string text = Text(static_cast<int>(bytes), bytes);
        const std::string original = Pair("f.txt", text);
        const std::string doomed = originals ? original : original + ".hwz";
        const std::string kept = originals ? original + ".hwz" : original;
        const std::string kept_bytes = Read(kept);
        std::vector<std::string> looked_at;
        SetRemovalCheckHook([&](const std::string& path) {
          looked_at.push_back(path);
          c.act(doomed, kept);
        });
        const RemovalResult result = originals ? RemoveOriginalFile(original) : RemoveCompressedFile(doomed);
        EXPECT_EQ(looked_at, std::vector<std::string>{doomed});
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.why, c.why);
        EXPECT_EQ(Exists(doomed), c.outcome != RemovalResult::kRemoved);
        if (c.outcome == RemovalResult::kRemoved) {
          EXPECT_EQ(Read(kept), kept_bytes);
        }
        fs::remove(original);
        fs::remove(original + ".hwz");
      }
    }
  }
}

// A group: every file whose other version holds its text goes, except the
// one edited just before its last look; every file that waited is reported
// once, in order; Cancel leaves the rest untouched.
TEST_F(Removal, AGroupRemovesEveryFaithfulFileAndReportsEachOnce) {
  for (bool originals : {true, false}) {
    SCOPED_TRACE(originals ? "remove-original" : "remove-compressed");
    std::vector<std::string> given;  // the files the group is asked to remove
    std::vector<std::string> texts;
    for (int i = 0; i < 6; ++i) {
      texts.push_back(Text(i, 2000 + 100 * i));
      const std::string original = Pair((i % 2 ? "a/" : "b/") + std::to_string(i) + ".txt", texts.back());
      given.push_back(originals ? original : original + ".hwz");
    }
    Write(dir_ + "/b/damaged.txt", Text(9, 500));
    Write(dir_ + "/b/damaged.txt.hwz", "\1not an archive");
    Write(dir_ + "/b/alone.txt" + (originals ? "" : ".hwz"), Text(8, 500));

    RemovalBatch batch(originals);
    RemovalResult refused;
    EXPECT_FALSE(batch.add(dir_ + "/b/damaged.txt" + (originals ? "" : ".hwz"), &refused));
    EXPECT_EQ(refused.outcome, RemovalResult::kKept);
    EXPECT_FALSE(batch.add(dir_ + "/b/alone.txt" + (originals ? "" : ".hwz"), &refused));
    EXPECT_EQ(refused.outcome, RemovalResult::kNothingToDo);
    for (const std::string& path : given) EXPECT_TRUE(batch.add(path, &refused)) << path << ": " << refused.why;
    EXPECT_EQ(batch.size(), given.size());

    SetRemovalCheckHook([&](const std::string& path) {
      if (path == given[2]) EditInPlace(path);
    });
    std::vector<std::string> reported;
    batch.finish([] { return false; }, [&](const std::string& path, const RemovalResult& result) {
      reported.push_back(path);
      EXPECT_EQ(result.outcome, path == given[2] ? RemovalResult::kKept : RemovalResult::kRemoved) << path;
    });
    EXPECT_EQ(reported, given);
    EXPECT_EQ(batch.size(), 0u);
    for (size_t i = 0; i < given.size(); ++i) {
      const std::string original = originals ? given[i] : given[i].substr(0, given[i].size() - 4);
      EXPECT_EQ(Exists(given[i]), i == 2) << given[i];
      EXPECT_EQ(originals ? Read(original + ".hwz") : Read(original), originals ? Archive(texts[i]) : texts[i]);
    }

    // Used again, with Cancel coming after the second removal.
    given.clear();
    for (int i = 10; i < 14; ++i) {
      const std::string original = Pair("c/" + std::to_string(i) + ".txt", Text(i, 1500));
      given.push_back(originals ? original : original + ".hwz");
      ASSERT_TRUE(batch.add(given.back(), &refused)) << refused.why;
    }
    int looks = 0;
    SetRemovalCheckHook([&](const std::string&) { ++looks; });
    std::vector<RemovalResult::Outcome> outcomes;
    batch.finish([&] { return looks >= 2; },
                 [&](const std::string&, const RemovalResult& result) { outcomes.push_back(result.outcome); });
    EXPECT_EQ(outcomes, (std::vector<RemovalResult::Outcome>{RemovalResult::kRemoved, RemovalResult::kRemoved,
                                                             RemovalResult::kCancelled, RemovalResult::kCancelled}));
    for (size_t i = 0; i < given.size(); ++i) EXPECT_EQ(Exists(given[i]), i >= 2) << given[i];
    SetRemovalCheckHook(nullptr);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
}

}  // namespace
}  // namespace removaltest
