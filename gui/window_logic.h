// The Qt window's side of the decisions that need no event loop: dialog
// units of a Qt font, the shared status texts and option readings in Qt's
// strings, the log viewer's fallbacks on a desktop, and the program's
// command line. The decisions themselves live in frontend/, shared with the
// Win32 window; their types are named here as the Qt window names them.
#ifndef MORAVINE_GUI_WINDOW_LOGIC_H_
#define MORAVINE_GUI_WINDOW_LOGIC_H_

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QVariant>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frontend/hit_text.h"
#include "frontend/job_threads.h"
#include "frontend/log_file.h"
#include "frontend/options.h"
#include "frontend/result_room.h"
#include "frontend/results.h"
#include "frontend/status_text.h"

namespace moravine::gui {

using frontend::BatchOutcome;
using frontend::HitText;
using frontend::JobThreads;
using frontend::kDefaultResultLimit;
using frontend::kLargestResultLimit;
using frontend::OpenedLog;
using frontend::OpenLog;
using frontend::OptionValues;
using frontend::ResultRoom;
using frontend::ResultRow;
using frontend::ScanInteger;
using frontend::StateFolder;

// Dialog units of a font: a horizontal unit is a quarter of the average
// character width, a vertical unit an eighth of the character height.
struct DialogUnits {
  int char_width = 4;
  int char_height = 8;

  static DialogUnits of(const QFont& font);
  int x(int dlu) const { return (dlu * char_width + 2) / 4; }
  int y(int dlu) const { return (dlu * char_height + 4) / 8; }
  QRect rect(int x0, int y0, int width, int height) const;
  QSize size(int width, int height) const { return QSize(x(width), y(height)); }
};

// The font of the program's dialogs: the application's font at 8 points.
QFont DialogFont();

// frontend::ParseResultLimit of a Qt string.
std::optional<int> ParseResultLimit(const QString& text);
// The limit kept in the settings; the default when it is missing or no
// number in the range.
int ResultLimitFromSetting(const QVariant& stored);

// The shared status texts, in Qt's strings (see frontend/status_text.h).
QString GroupedNumber(int64_t value);
bool IsBatchEnd(const QString& core_text);
QString BatchEndText(const QString& core_text, const BatchOutcome& outcome);
QString SearchWordRefusal(const std::string& word);
QString LogViewerError(const QString& program, const QString& log_path);

// How "View log file" reaches the outside world.
struct LogViewerServices {
  std::function<bool(const QUrl&)> open_url;  // the desktop's handler
  std::function<bool(const QString& program, const QStringList& arguments)> start_detached;
  std::function<QString(const char* name)> environment;
};

// Shows a page with the desktop's browser (xdg-open), and tells `shown`,
// on the calling thread once the opener has ended, whether it showed it:
// an opener that cannot start or ends with a failure means no browser did.
// The opener is not tied to the window: closing the window leaves the
// browser open.
void OpenPageInBrowser(const QUrl& page, std::function<void(bool shown)> shown);

// Opens the log with the desktop's handler, else with $VISUAL, else with
// $EDITOR. Returns an empty string when one of them started, otherwise the
// name of the last program tried.
QString OpenLogFile(const QString& log_path, const LogViewerServices& services);

// The command line: moravine-gui [PATH], with hidden options that make the
// screenshot of the window.
struct GuiArguments {
  QString path;             // absolute; the current directory when none is given
  QString search_word;      // typed into "Search word", then Search is pressed
  QString allow_errors;     // typed into "Allow errors"
  QString screenshot_file;  // the window is saved there once the search finished
  QSize window_size;        // the window's size for the screenshot; invalid: as remembered
  QString error;            // set when the command line is wrong, or the help text
  bool help = false;        // --help: print the text in `error` and end
  bool print_help_page = false;  // --help-page: print the help page that Help opens and end
};
GuiArguments ParseArguments(const QStringList& arguments, const QString& current_directory);

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_WINDOW_LOGIC_H_
