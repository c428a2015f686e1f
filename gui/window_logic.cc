#include "gui/window_logic.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QApplication>
#include <QFileInfo>
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

std::optional<int> ParseResultLimit(const QString& text) {
  std::optional<int> value = ScanInteger(text.left(63).toStdString());
  if (!value || *value < 1 || *value > kLargestResultLimit) return std::nullopt;
  return value;
}

int ResultLimitFromSetting(const QVariant& stored) {
  bool number = false;
  const qlonglong value = stored.toLongLong(&number);
  return number && value >= 1 && value <= kLargestResultLimit ? static_cast<int>(value) : kDefaultResultLimit;
}

QString GroupedNumber(int64_t value) {
  QString digits = QString::number(static_cast<qlonglong>(value));
  const qsizetype first = value < 0 ? 1 : 0;  // after the sign
  for (qsizetype at = digits.size() - 3; at > first; at -= 3) digits.insert(at, QLatin1Char(','));
  return digits;
}

namespace {

QString Counted(int64_t count, const char* one, const char* many) {
  return GroupedNumber(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

QString ShownPart(const BatchOutcome& outcome, bool finished) {
  if (!finished) {
    return outcome.shown == 0 ? QString()
                              : Counted(outcome.shown, "hit", "hits") +
                                    QLatin1String(outcome.shown == 1 ? " is shown" : " are shown");
  }
  if (outcome.hits == 0) return QStringLiteral("no hits");
  QString text = Counted(outcome.hits, "hit", "hits") + QStringLiteral(" in ") +
                 Counted(outcome.files_with_hits, "file", "files");
  if (outcome.shown >= outcome.hits) return text;
  if (outcome.shown == 0) return text + QStringLiteral("; none is shown");
  if (outcome.shown == 1) return text + QStringLiteral("; the first is shown");
  return text + QStringLiteral("; the first %1 are shown").arg(GroupedNumber(outcome.shown));
}

}  // namespace

bool IsBatchEnd(const QString& core_text) {
  return core_text == QLatin1String("Finished") || core_text.startsWith(QLatin1String("Cancelled after "));
}

QString BatchEndText(const QString& core_text, const BatchOutcome& outcome) {
  const bool finished = core_text == QLatin1String("Finished");
  QStringList parts;
  if (outcome.search) parts << ShownPart(outcome, finished);
  if (outcome.failed > 0) {
    parts << Counted(outcome.failed, "file", "files") + QStringLiteral(" failed (see the log file)");
  }
  parts.removeAll(QString());
  if (parts.isEmpty()) return core_text;
  return core_text + QLatin1String(finished ? ": " : "; ") + parts.join(QStringLiteral("; "));
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

QString LogViewerError(const QString& program, const QString& log_path) {
  QFileInfo log(log_path);
  return QStringLiteral("Error running %1. You can find %2 in %3.").arg(program, log.fileName(), log.absolutePath());
}

QString SearchWordRefusal(const std::string& word) {
  if (word.empty()) return QStringLiteral("Please type the word to search for in \"Search word\".");
  if (word.size() > 998) return QStringLiteral("The search word must hold 1 to 998 bytes.");
  return QString();
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
  QCommandLineOption size(QStringLiteral("window-size"), QString(), QStringLiteral("WIDTHxHEIGHT"));
  for (QCommandLineOption* option : {&search, &errors, &screenshot, &size}) {
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
  if (parser.isSet(size)) {
    QStringList sides = parser.value(size).split(QLatin1Char('x'));
    bool wide = false, high = false;
    if (sides.size() == 2) result.window_size = QSize(sides[0].toInt(&wide), sides[1].toInt(&high));
    if (!wide || !high || result.window_size.isEmpty()) result.error = QStringLiteral("--window-size takes WIDTHxHEIGHT.");
  }
  return result;
}

}  // namespace moravine::gui
