#include "gui/window_logic.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QApplication>
#include <QFontMetrics>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace moravine::gui {

DialogUnits DialogUnits::of(const QFont& font) {
  // The average character width of dialog units is that of the alphabet,
  // rounded as dialog templates round it; a font's own average (often that
  // of lower-case letters only) would leave captions too little room.
  QFontMetrics metrics(font);
  int alphabet = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogUnits units;
  units.char_width = std::max(1, (alphabet / 26 + 1) / 2);
  units.char_height = std::max(1, metrics.height());
  return units;
}

QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(8);
  return font;
}

QRect DialogUnits::rect(int x0, int y0, int width, int height) const {
  return QRect(x(x0), y(y0), x(width), y(height));
}

std::optional<int> ScanInteger(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(start, &end, 10);
  if (end == start) return std::nullopt;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

QString OpenLogFile(const QString& log_path, const LogViewerServices& services) {
  if (services.open_url && services.open_url(QUrl::fromLocalFile(QDir(log_path).absolutePath()))) return QString();
  QString tried = QStringLiteral("xdg-open");
  for (const char* name : {"VISUAL", "EDITOR"}) {
    QString editor = services.environment ? services.environment(name).trimmed() : QString();
    if (editor.isEmpty()) continue;
    // An editor variable may carry arguments of its own, as in "emacs -nw".
    QStringList words = QProcess::splitCommand(editor);
    if (words.isEmpty()) continue;
    QString program = words.takeFirst();
    tried = program;
    if (services.start_detached && services.start_detached(program, words << log_path)) return QString();
  }
  return tried;
}

QString LogViewerError(const QString& program) {
  return QStringLiteral("Error running %1. You can find Moravine.log in the Moravine application folder.").arg(program);
}

GuiArguments ParseArguments(const QStringList& arguments, const QString& current_directory) {
  GuiArguments result;
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Moravine: compress text files and search them without decompressing."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("PATH"),
                               QStringLiteral("The file or folder to select in the tree (default: the current folder)"),
                               QStringLiteral("[PATH]"));
  // Hidden: used by scripts/screenshot.
  QCommandLineOption search(QStringLiteral("search"), QString(), QStringLiteral("WORD"));
  QCommandLineOption errors(QStringLiteral("errors"), QString(), QStringLiteral("N"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
  for (QCommandLineOption* option : {&search, &errors, &screenshot}) {
    option->setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(*option);
  }
  if (!parser.parse(arguments)) {
    result.error = parser.errorText();
    return result;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    result.help = true;
    result.error = parser.helpText();
    return result;
  }
  QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) {
    result.error = QStringLiteral("Only one PATH can be given.");
    return result;
  }
  QString path = positional.isEmpty() ? QStringLiteral(".") : positional.front();
  result.path = QDir::cleanPath(QDir(current_directory).absoluteFilePath(path));
  result.search_word = parser.value(search);
  result.allow_errors = parser.value(errors);
  result.screenshot_file = parser.value(screenshot);
  if (!result.screenshot_file.isEmpty() && result.search_word.isEmpty()) {
    result.error = QStringLiteral("--screenshot needs --search.");
  }
  return result;
}

}  // namespace moravine::gui
