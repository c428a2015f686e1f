// moravine: compress, decompress and inspect .hwz files from the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "shell/fileio.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hlog.h"
#include "wordmodel/hreport.h"

namespace {

const char kExtension[] = ".hwz";

void Complain(const std::string& file, const std::string& message) {
  std::string text = message;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::fprintf(stderr, "moravine: %s: %s\n", file.c_str(), text.c_str());
}

bool EndsWithExtension(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, kExtension) == 0;
}

struct CompressOptions {
  bool words = false;
  int distance = 128;
  bool verbose = false;
};

bool CompressOne(const std::string& path, const CompressOptions& options) {
  if (EndsWithExtension(path)) {
    Complain(path, "already has the .hwz extension; skipped");
    return false;
  }
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return false;
  }
  if (input.size() == 0) {
    Complain(path, "the file is empty; there is nothing to compress");
    return false;
  }
  HBuffer out;
  int32_t out_length = 0;
  try {
    int32_t length = static_cast<int32_t>(input.size());
    int level = options.verbose ? 1 : 0;
    if (options.words) {
      Huffw_compress(input.data(), length, options.distance > 0 ? options.distance : 0, &out, &out_length, level);
    } else {
      Huffw_spaceless_compress(input.data(), length, &out, &out_length, level);
    }
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("compression failed: ") + failure.what());
    return false;
  }
  if (!moravine::WriteFileAtomically(path + kExtension, out.get(), out_length, &error)) {
    Complain(path + kExtension, error);
    return false;
  }
  return true;
}

bool DecompressOne(const std::string& path, bool verbose) {
  if (!EndsWithExtension(path)) {
    Complain(path, "the name does not end in .hwz; skipped");
    return false;
  }
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return false;
  }
  HBuffer out;
  int32_t out_length = 0;
  try {
    int32_t length = static_cast<int32_t>(input.size());
    int level = verbose ? 1 : 0;
    if (length > 0 && input.data()[0] == 0) {
      Huffw_decompress(input.data(), length, &out, &out_length, level);
    } else {
      Huffw_spaceless_decompress(input.data(), length, &out, &out_length, level);
    }
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("decompression failed: ") + failure.what());
    return false;
  }
  std::string target = path.substr(0, path.size() - 4);
  if (!moravine::WriteFileAtomically(target, out.get(), out_length, &error)) {
    Complain(target, error);
    return false;
  }
  return true;
}

bool InfoOne(const std::string& path, bool verbose) {
  moravine::MappedFile input;
  std::string error;
  if (!input.open(path, &error)) {
    Complain(path, error);
    return false;
  }
  try {
    HModel model;
    int32_t text_length;
    const unsigned char* body;
    int32_t body_length;
    int32_t length = static_cast<int32_t>(input.size());
    HDecompress_getBodyAndConsole(input.data(), length, &text_length, &body, &body_length, &model);
    int rule = input.data()[0];
    if (rule != 0 && rule != 1) {
      Complain(path, "unknown parsing rule " + std::to_string(static_cast<signed char>(rule)));
      return false;
    }
    HPrint_globalInfos(&model, body_length, text_length, length, rule, verbose ? 2 : 1);
    std::fflush(stdout);
    HModel_free(&model, false);
  } catch (const HFatalFailure& failure) {
    Complain(path, std::string("not a valid compressed file: ") + failure.what());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Fatal failures carry their message; the command line prints it once,
  // prefixed with the file's name, so the library's own copy is dropped.
  FILE* sink = std::fopen("/dev/null", "w");
  HLog_setStreams(nullptr, sink);

  CLI::App app{"Moravine: word-based compression of text files, searchable without decompressing."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "moravine 1.0");

  CompressOptions copts;
  std::vector<std::string> cfiles;
  CLI::App* compress = app.add_subcommand("compress", "Compress each FILE to FILE.hwz");
  bool spaceless_flag = false;
  auto* spaceless = compress->add_flag("--spaceless", spaceless_flag, "Spaceless model: single blanks between words are implied (default)");
  auto* words = compress->add_flag("--words", copts.words, "Words-and-separators model: every token is coded");
  spaceless->excludes(words);
  compress->add_option("--distance", copts.distance,
                       "Auxiliary pointer distance for the words-and-separators model (0 or less: none)")
      ->default_val(128);
  compress->add_flag("-v,--verbose", copts.verbose, "Print the statistics report of each file");
  compress->add_option("FILE", cfiles, "Files to compress")->required();

  bool dverbose = false;
  std::vector<std::string> dfiles;
  CLI::App* decompress = app.add_subcommand("decompress", "Decompress each FILE.hwz to FILE");
  decompress->add_flag("-v,--verbose", dverbose, "Print the statistics report of each file");
  decompress->add_option("FILE", dfiles, "Compressed files (.hwz)")->required();

  bool iverbose = false;
  std::vector<std::string> ifiles;
  CLI::App* info = app.add_subcommand("info", "Print the statistics report of compressed files");
  info->add_flag("-v,--verbose", iverbose, "Add the dictionary listing");
  info->add_option("FILE", ifiles, "Compressed files (.hwz)")->required();

  CLI11_PARSE(app, argc, argv);

  bool ok = true;
  if (*compress) {
    for (const auto& f : cfiles) ok &= CompressOne(f, copts);
  } else if (*decompress) {
    for (const auto& f : dfiles) ok &= DecompressOne(f, dverbose);
  } else if (*info) {
    for (const auto& f : ifiles) ok &= InfoOne(f, iverbose);
  }
  std::fflush(stdout);
  if (sink) std::fclose(sink);
  return ok ? 0 : 1;
}
