// The desktop window's decisions that need no event loop: dialog units,
// the integer scan of the options dialog, the log viewer's fallbacks and the
// program's command line.
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

namespace moravine::gui {

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

// Reads a decimal integer the way strtol does: leading blanks, an optional
// sign, then digits up to the first other character ("12abc" gives 12).
// Values beyond int are clamped. Nothing when the text does not begin with a
// number.
std::optional<int> ScanInteger(const std::string& text);

// The most rows the results list holds: the default, and the largest the
// Options dialog takes (the least is 1). Past a million rows every change
// of the list costs the window a noticeable pause.
constexpr int kDefaultResultLimit = 100000;
constexpr int kLargestResultLimit = 1000000;
// The limit typed into the Options dialog, read as ScanInteger reads; none
// when the text is no number in 1..kLargestResultLimit.
std::optional<int> ParseResultLimit(const QString& text);
// The limit kept in the settings; the default when it is missing or no
// number in the range.
int ResultLimitFromSetting(const QVariant& stored);

// A count with its thousands set apart: "5,612,034".
QString GroupedNumber(int64_t value);

// What a batch did, for the status line at its end.
struct BatchOutcome {
  bool search = false;
  int64_t hits = 0;         // every hit found, shown or not
  int files_with_hits = 0;
  int64_t shown = 0;        // the rows in the results list
  int failed = 0;           // the files whose job failed
};
// Whether the status text is one the batch core gives when a batch ends:
// "Finished", or "Cancelled after N of M files".
bool IsBatchEnd(const QString& core_text);
// That text with what the batch did: the failed files and, for a search,
// the hits and how many of them the list shows. "Finished: 5,612,034 hits
// in 500 files; the first 100,000 are shown".
QString BatchEndText(const QString& core_text, const BatchOutcome& outcome);

// How "View log file" reaches the outside world.
struct LogViewerServices {
  std::function<bool(const QUrl&)> open_url;  // the desktop's handler
  std::function<bool(const QString& program, const QStringList& arguments)> start_detached;
  std::function<QString(const char* name)> environment;
};

// Opens the log with the desktop's handler, else with $VISUAL, else with
// $EDITOR. Returns an empty string when one of them started, otherwise the
// name of the last program tried.
QString OpenLogFile(const QString& log_path, const LogViewerServices& services);

// "Error running NAME. You can find Moravine.log in FOLDER." with the
// folder of the log in use.
QString LogViewerError(const QString& program, const QString& log_path);

// Why Search refuses the word of the "Search word" box (empty when it does
// not): the word must hold 1 to 998 bytes, as on the command line.
QString SearchWordRefusal(const std::string& word);

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
};
GuiArguments ParseArguments(const QStringList& arguments, const QString& current_directory);

}  // namespace moravine::gui

#endif  // MORAVINE_GUI_WINDOW_LOGIC_H_
