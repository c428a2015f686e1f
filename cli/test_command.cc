// moravine test and moravine list: checks and a table of compressed files.
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <string>

#include "cli/commands.h"
#include "cli/input.h"
#include "codec/container.h"
#include "codec/decompress.h"
#include "wordmodel/hbuffer.h"
#include "wordmodel/hhashtable.h"
#include "wordmodel/hmodel.h"
#include "wordmodel/hmodel_free.h"
#include "wordmodel/hrule.h"

namespace moravine::cli {

namespace {

std::string Reason(const std::exception& failure) {
  std::string what = failure.what();
  while (!what.empty() && (what.back() == '\n' || what.back() == '.')) what.pop_back();
  return what;
}

// What a compressed file's header says about it.
struct Summary {
  int64_t compressed = 0;
  int32_t text = 0;
  int rule = 0;
  int32_t tokens = 0;
};

// Reads the header of a compressed file; false with the reason.
bool Summarize(const Input& input, Summary* summary, std::string* why) {
  if (input.size() == 0) {
    *why = "it is empty";
    return false;
  }
  summary->compressed = input.size();
  summary->rule = input.data()[0];
  if (!HRule_known(summary->rule)) {
    *why = "unknown parsing rule " + std::to_string(static_cast<signed char>(summary->rule));
    return false;
  }
  HModel model;
  try {
    const unsigned char* body;
    int32_t body_length;
    HContainer_read(input.data(), static_cast<int32_t>(input.size()), &summary->text, &body, &body_length, &model,
                    HVocabulary::kBlankOnly);
    summary->tokens = model.dictionary.token_count;
  } catch (const std::exception& failure) {
    HModel_free(&model, false);
    *why = Reason(failure);
    return false;
  }
  HModel_free(&model, false);
  return true;
}

std::string HumanSize(int64_t bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%" PRId64 " B", bytes);
  } else {
    std::snprintf(text, sizeof text, "%.2f %s", value, kUnits[unit]);
  }
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

double Ratio(int64_t text, int64_t compressed) {
  return compressed > 0 ? static_cast<double>(text) / static_cast<double>(compressed) : 0.0;
}

const char* ModelName(int rule) {
  static const char* const kNames[] = {"words", "spaceless", "unicode-words", "unicode-spaceless"};
  return HRule_known(rule) ? kNames[rule] : "unknown";
}

}  // namespace

namespace {

// Checks one file as far as the format allows: the header, code table and
// dictionary; every codeword of the body and the decoded length; the
// pointers against the body. False with the check that failed and why.
bool CheckWhole(const Input& input, Summary* summary, std::string* why) {
  if (!Summarize(input, summary, why)) {
    *why = "the header or dictionary: " + *why;
    return false;
  }
  const auto size = static_cast<int32_t>(input.size());
  try {
    int32_t text_length = 0;
    HDecompress_fileStream(input.data(), size, [](const unsigned char*, int64_t) {}, &text_length, 0);
  } catch (const std::exception& failure) {
    *why = "the body: " + Reason(failure);
    return false;
  }
  try {
    HDecompress_checkPointers(input.data(), size);
  } catch (const std::exception& failure) {
    *why = "the pointers: " + Reason(failure);
    return false;
  }
  return true;
}

}  // namespace

int TestFiles(const std::vector<std::string>& paths, bool verbose) {
  int status = 0;
  for (const std::string& path : paths) {
    if (g_stop_signal.load() != 0) break;
    Input input;
    std::string why;
    Summary summary;
    const bool opened = input.open(path, &why, true);
    if (!opened && why.empty()) break;  // stopped by a signal
    const bool good = opened && CheckWhole(input, &summary, &why);
    if (!good) {
      std::fprintf(stderr, "moravine: %s: damaged or not a compressed file: %s\n", input.name().c_str(),
                   why.c_str());
      status = 1;
    } else if (verbose) {
      std::printf("%s: OK, %" PRId32 " bytes of text\n", input.name().c_str(), summary.text);
    }
  }
  if (std::fflush(stdout) != 0) return OutputFailed(errno);
  return status;
}

int ListFiles(const std::vector<std::string>& paths, bool json) {
  int status = 0;
  int listed = 0;
  int64_t total_compressed = 0;
  int64_t total_text = 0;
  if (!json) std::printf("%12s %14s %7s  %-17s %9s  %s\n", "Compressed", "Text", "Ratio", "Model", "Tokens", "File");
  for (const std::string& path : paths) {
    if (g_stop_signal.load() != 0) break;
    Input input;
    std::string why;
    Summary s;
    const bool opened = input.open(path, &why, true);
    if (!opened && why.empty()) break;  // stopped by a signal
    if (!opened || !Summarize(input, &s, &why)) {
      std::fflush(stdout);
      std::fprintf(stderr, "moravine: %s: not a valid compressed file: %s\n", input.name().c_str(), why.c_str());
      status = 1;
      continue;
    }
    ++listed;
    total_compressed += s.compressed;
    total_text += s.text;
    if (json) {
      std::printf("{\"path\":%s,\"compressed\":%" PRId64 ",\"text\":%" PRId32
                  ",\"ratio\":%.3f,\"model\":\"%s\",\"tokens\":%" PRId32 "}\n",
                  JsonString(input.name()).c_str(), s.compressed, s.text, Ratio(s.text, s.compressed),
                  ModelName(s.rule), s.tokens);
    } else {
      std::printf("%12s %14s %7.3f  %-17s %9" PRId32 "  %s\n", HumanSize(s.compressed).c_str(),
                  HumanSize(s.text).c_str(), Ratio(s.text, s.compressed), ModelName(s.rule), s.tokens,
                  input.name().c_str());
    }
  }
  if (!json && listed > 1) {
    std::printf("%12s %14s %7.3f  %-17s %9s  %d files\n", HumanSize(total_compressed).c_str(),
                HumanSize(total_text).c_str(), Ratio(total_text, total_compressed), "", "", listed);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return OutputFailed(errno);
  return status;
}

}  // namespace moravine::cli
