#include "frontend/help_page.h"

namespace moravine::frontend {

namespace {

bool EndsWithExe(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return tail == ".exe";
}

}  // namespace

std::vector<std::string> HelpPagePlaces(const std::string& program_path) {
  const std::string stem = EndsWithExe(program_path) ? program_path.substr(0, program_path.size() - 4) : program_path;
  std::vector<std::string> places = {stem + ".html"};
  const size_t slash = program_path.find_last_of("/\\");
  if (slash == std::string::npos) return places;
  // The folder above the program's: /usr for /usr/bin/moravine-gui.
  const std::string folder = program_path.substr(0, slash);
  const size_t up = folder.find_last_of("/\\");
  const std::string last = up == std::string::npos ? folder : folder.substr(up + 1);
  const std::string parent =
      up == std::string::npos || last == "." || last == ".." ? folder + "/.." : folder.substr(0, up);
  places.push_back(parent + "/share/moravine/help.html");
  places.push_back(parent + "/share/doc/moravine/help.html");
  return places;
}

std::string FindHelpPage(const std::string& program_path, const std::function<bool(const std::string&)>& exists) {
  for (const std::string& place : HelpPagePlaces(program_path)) {
    if (exists(place)) return place;
  }
  return std::string();
}

std::string HelpPageMissing(const std::string& program_path) {
  std::string text = "The help page is missing. It was looked for in:";
  for (const std::string& place : HelpPagePlaces(program_path)) text += "\n" + place;
  return text;
}

std::string HelpPageNotShown(const std::string& page) {
  return "No web browser could show the help page.\n\nYou can open it yourself: " + page;
}

}  // namespace moravine::frontend
