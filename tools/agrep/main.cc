// agrep: prints the lines of its input that match a pattern with at most a
// given number of errors. See Usage() for the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "agrep.h"
#include "program_io.h"

#ifndef AGREP_VERSION
#define AGREP_VERSION "1.0"
#endif

namespace {

constexpr int kMatched = agrep::kExitMatched;
constexpr int kNoMatch = agrep::kExitNoMatch;
constexpr int kTrouble = agrep::kExitTrouble;

void Usage(FILE* out) {
  std::fputs(
      "Usage: agrep [OPTIONS] PATTERN [FILE...]\n"
      "Prints each line of the FILEs (standard input when none, or for \"-\")\n"
      "that matches PATTERN with at most the given number of errors, where an\n"
      "error is one inserted, deleted or substituted byte.\n"
      "\n"
      "Options (before PATTERN):\n"
      "  -N       allow N errors (any number of digits: -0 exact, -1, -10, ...)\n"
      "  -V0      print the matching lines only (the default output)\n"
      "  -i       ignore the case of ASCII letters\n"
      "  -V       print the version and exit\n"
      "  --help   print this help and exit\n"
      "  --       end of options: the next argument is PATTERN\n"
      "\n"
      "Patterns:\n"
      "  ^WORD$   WORD free of regular-expression characters: the whole line is\n"
      "           within N errors of WORD (Levenshtein distance)\n"
      "  WORD     some part of the line is within N errors of WORD\n"
      "  other    a POSIX extended regular expression\n"
      "Bytes compare as bytes; with -i an ASCII letter matches in either case.\n"
      "A line ends at LF; a CR before the LF is not part of what is matched but\n"
      "is printed with the line.\n"
      "\n"
      "Exit status: 0 when a line matched, 1 when none did, 2 on trouble.\n",
      out);
}

// Buffered writing to standard output in large blocks.
class Output {
 public:
  Output() { buffer_.reserve(kSize); }
  void line(std::string_view record) {
    if (buffer_.size() + record.size() + 1 > kSize) flush();
    if (record.size() + 1 > kSize) {
      writeAll(record);
      buffer_.push_back('\n');
      return;
    }
    buffer_.append(record);
    buffer_.push_back('\n');
  }
  void flush() {
    writeAll(buffer_);
    buffer_.clear();
  }
  bool failed() const { return failed_; }

 private:
  static constexpr size_t kSize = size_t{1} << 20;

  void writeAll(std::string_view data) {
    if (failed_) return;
    std::string reason;
    if (!agrep::WriteStandardOutput(data, &reason)) {
      std::fprintf(stderr, "agrep: write error: %s\n", reason.c_str());
      failed_ = true;
    }
  }

  std::string buffer_;
  bool failed_ = false;
};

template <typename Matcher>
bool Search(std::string_view text, const Matcher& matcher, Output& out) {
  return agrep::ForEachSelectedRecord(
      text, [&matcher](std::string_view line) { return matcher.matches(line); },
      [&out](std::string_view record) { out.line(record); });
}

// Searches one file ("-": standard input); false on trouble, reported.
bool SearchFile(const char* name, const agrep::LineMatcher& matcher, Output& out, bool& any) {
  const char* shown = std::strcmp(name, "-") == 0 ? "(standard input)" : name;
  agrep::InputText input;
  std::string reason;
  if (!input.load(name, &reason)) {
    std::fprintf(stderr, "agrep: %s: %s\n", shown, reason.c_str());
    return false;
  }
  // The plain-word matcher is called directly, without the virtual call.
  if (const auto* word = dynamic_cast<const agrep::WordMatcher*>(&matcher)) {
    any |= Search(input.text(), *word, out);
  } else {
    any |= Search(input.text(), matcher, out);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  agrep::Arguments arguments;
  std::string message;
  switch (agrep::ParseArguments(agrep::StartProgram(argc, argv), &arguments, &message)) {
    case agrep::ParseOutcome::kRun:
      break;
    case agrep::ParseOutcome::kHelp:
      Usage(stdout);
      return kMatched;
    case agrep::ParseOutcome::kVersion:
      std::printf("agrep (Moravine) %s\n", AGREP_VERSION);
      return kMatched;
    case agrep::ParseOutcome::kUsage:
      Usage(stderr);
      return kTrouble;
    case agrep::ParseOutcome::kTrouble:
      std::fputs(message.c_str(), stderr);
      return kTrouble;
  }

  std::unique_ptr<agrep::LineMatcher> matcher;
  try {
    matcher = agrep::MakeMatcher(arguments.pattern, arguments.errors, arguments.ignore_case);
  } catch (const std::exception& e) {
    std::fputs(agrep::BadPatternMessage(arguments.pattern, e.what()).c_str(), stderr);
    return kTrouble;
  }

  Output out;
  bool any = false;
  bool trouble = false;
  try {
    if (arguments.files.empty()) {
      trouble |= !SearchFile("-", *matcher, out, any);
    } else {
      for (const std::string& file : arguments.files) trouble |= !SearchFile(file.c_str(), *matcher, out, any);
    }
  } catch (const agrep::MatchError& e) {
    out.flush();
    std::fputs(agrep::MatchErrorMessage(e.what()).c_str(), stderr);
    return kTrouble;
  }
  out.flush();
  if (trouble || out.failed()) return kTrouble;
  return any ? kMatched : kNoMatch;
}
