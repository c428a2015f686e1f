// The program's command line, shared with callers that match in-process.
#include <climits>

#include "agrep.h"

namespace agrep {
namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The digits of "-N"; false when the count does not fit an int.
bool ParseErrors(std::string_view digits, int* errors) {
  long long value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return false;
  }
  *errors = static_cast<int>(value);
  return true;
}

}  // namespace

ParseOutcome ParseArguments(const std::vector<std::string>& args, Arguments* arguments, std::string* message) {
  *arguments = Arguments();
  message->clear();
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') break;
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--help") return ParseOutcome::kHelp;
    if (arg == "-V") return ParseOutcome::kVersion;
    if (arg == "-V0") continue;
    if (arg == "-i") {
      arguments->ignore_case = true;
      continue;
    }
    if (AllDigits(arg.substr(1))) {
      if (!ParseErrors(arg.substr(1), &arguments->errors)) {
        *message = "agrep: too many errors: " + args[i] + "\n";
        return ParseOutcome::kTrouble;
      }
      continue;
    }
    *message = "agrep: unknown option '" + args[i] + "'\nTry 'agrep --help'.\n";
    return ParseOutcome::kTrouble;
  }
  if (i >= args.size()) return ParseOutcome::kUsage;
  arguments->pattern = args[i++];
  arguments->files.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  return ParseOutcome::kRun;
}

std::string BadPatternMessage(const std::string& pattern, const std::string& reason) {
  return "agrep: bad pattern '" + pattern + "': " + reason + "\n";
}

std::string MatchErrorMessage(const std::string& reason) { return "agrep: " + reason + "\n"; }

}  // namespace agrep
