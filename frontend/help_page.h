// Where a window finds its help page: beside the program, named after it
// with ".html" (a build tree, and the Windows layout), or where the package
// installs it, ../share/moravine/help.html from the program's folder (or
// ../share/doc/moravine/help.html), so that no page lies among programs.
#ifndef MORAVINE_FRONTEND_HELP_PAGE_H_
#define MORAVINE_FRONTEND_HELP_PAGE_H_

#include <functional>
#include <string>
#include <vector>

namespace moravine::frontend {

// The places looked at, in order, for the program at `program_path`.
std::vector<std::string> HelpPagePlaces(const std::string& program_path);

// The first of those places that `exists`; empty when none does.
std::string FindHelpPage(const std::string& program_path, const std::function<bool(const std::string&)>& exists);

// The message when no page was found, naming the places looked at.
std::string HelpPageMissing(const std::string& program_path);

// The message when the page was found but no browser could show it.
std::string HelpPageNotShown(const std::string& page);

}  // namespace moravine::frontend

#endif  // MORAVINE_FRONTEND_HELP_PAGE_H_
