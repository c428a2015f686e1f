#include "winui/text.h"

namespace moravine::winui {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point that begins at bytes[*at], which moves past it.
char32_t NextCodePoint(std::string_view bytes, size_t* at) {
  const auto lead = static_cast<unsigned char>(bytes[(*at)++]);
  if (lead < 0x80) return lead;
  int more = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
  if (more < 0) return kReplacement;
  char32_t code = lead & (0x3F >> more);
  for (int i = 0; i < more; ++i) {
    if (*at >= bytes.size() || (static_cast<unsigned char>(bytes[*at]) & 0xC0) != 0x80) return kReplacement;
    code = (code << 6) | (static_cast<unsigned char>(bytes[(*at)++]) & 0x3F);
  }
  const bool overlong = (more == 2 && code < 0x800) || (more == 3 && code < 0x10000);
  if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return kReplacement;
  return code;
}

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  for (size_t at = 0; at < utf8.size();) {
    char32_t code = NextCodePoint(utf8, &at);
    if (code < 0x10000) {
      out += static_cast<wchar_t>(code);
    } else {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 | (code >> 10));
      out += static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
    }
  }
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t at = 0; at < utf16.size(); ++at) {
    char32_t unit = static_cast<char32_t>(utf16[at]) & 0xFFFF;
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < utf16.size()) {
      const char32_t low = static_cast<char32_t>(utf16[at + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
        ++at;
        continue;
      }
    }
    AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit, &out);
  }
  return out;
}

std::wstring EditText(std::string_view bytes) {
  std::wstring wide = Widen(bytes);
  std::wstring out;
  out.reserve(wide.size() + wide.size() / 32);
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == L'\n') {
      out += L"\r\n";
    } else if (wide[i] != L'\r') {
      out += wide[i];
    } else if (i + 1 < wide.size() && wide[i + 1] != L'\n') {
      out += L"\r\n";  // a lone "\r"; before a "\n" the "\n" makes the break
    }
  }
  return out;
}

std::wstring FitFromRight(const std::wstring& text, int width, const std::function<int(const std::wstring&)>& measure) {
  if (measure(text) <= width) return text;
  // The longest tail that fits behind the ellipsis, found by halving.
  size_t fits = 0, fails = text.size();
  while (fails - fits > 1) {
    const size_t tail = (fits + fails) / 2;
    if (measure(L"\u2026" + text.substr(text.size() - tail)) <= width) {
      fits = tail;
    } else {
      fails = tail;
    }
  }
  size_t start = text.size() - fits;
  // A tail never begins with the second half of a surrogate pair.
  if (start < text.size() && (static_cast<unsigned>(text[start]) & 0xFC00) == 0xDC00) ++start;
  return L"\u2026" + text.substr(start);
}

namespace {

bool LowSurrogate(wchar_t c) { return (static_cast<unsigned>(c) & 0xFC00) == 0xDC00; }
bool HighSurrogate(wchar_t c) { return (static_cast<unsigned>(c) & 0xFC00) == 0xD800; }

// The first `kept` units of the text, half from its start and half from
// its end, with "…" between; no surrogate pair is cut.
std::wstring KeepEnds(const std::wstring& text, size_t kept) {
  size_t head = (kept + 1) / 2;
  size_t tail_start = text.size() - kept / 2;
  if (head > 0 && HighSurrogate(text[head - 1])) --head;
  if (tail_start < text.size() && LowSurrogate(text[tail_start])) ++tail_start;
  return text.substr(0, head) + L"\u2026" + text.substr(tail_start);
}

}  // namespace

std::wstring FitInMiddle(const std::wstring& text, int width, const std::function<int(const std::wstring&)>& measure) {
  if (measure(text) <= width) return text;
  // The most units that fit around the ellipsis, found by halving.
  size_t fits = 0, fails = text.size();
  while (fails - fits > 1) {
    const size_t kept = (fits + fails) / 2;
    if (measure(KeepEnds(text, kept)) <= width) {
      fits = kept;
    } else {
      fails = kept;
    }
  }
  return KeepEnds(text, fits);
}

const char kWinUsage[] =
    "Usage: moravine-gui [PATH]\n"
    "Moravine: compress text files and search them without decompressing.\n"
    "PATH: the file or folder to select in the tree (default: the current folder).\n";

WinArguments ParseWinArguments(const std::vector<std::string>& arguments) {
  WinArguments result;
  std::vector<std::string> positional;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      result.help = true;
    } else if (argument == "--search" || argument == "--errors") {
      if (i + 1 >= arguments.size()) {
        result.error = argument + " needs a value.";
        return result;
      }
      (argument == "--search" ? result.search_word : result.allow_errors) = arguments[++i];
    } else if (argument.starts_with("--")) {
      result.error = "Unknown option " + argument + ".";
      return result;
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() > 1) {
    result.error = "Only one PATH can be given.";
  } else if (!positional.empty()) {
    result.path = positional.front();
  }
  if (!result.allow_errors.empty() && result.search_word.empty()) result.error = "--errors needs --search.";
  return result;
}

}  // namespace moravine::winui
