#include "gui/window_logic.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QApplication>
#include <QFileInfo>
#include <QFontMetrics>
#include <QProcess>

#include <algorithm>

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

std::optional<int> ParseResultLimit(const QString& text) { return frontend::ParseResultLimit(text.toStdString()); }

int ResultLimitFromSetting(const QVariant& stored) {
  bool number = false;
  const qlonglong value = stored.toLongLong(&number);
  return frontend::ResultLimitOrDefault(number ? std::optional<long long>(value) : std::nullopt);
}

QString GroupedNumber(int64_t value) { return QString::fromStdString(frontend::GroupedNumber(value)); }

bool IsBatchEnd(const QString& core_text) { return frontend::IsBatchEnd(core_text.toStdString()); }

QString BatchEndText(const QString& core_text, const BatchOutcome& outcome) {
  return QString::fromStdString(frontend::StatusAtBatchEnd(core_text.toStdString(), outcome));
}

void OpenPageInBrowser(const QUrl& page, std::function<void(bool shown)> shown) {
  // Without a parent: the opener outlives the window, and deletes itself.
  auto* opener = new QProcess();
  QObject::connect(opener, &QProcess::finished, opener, [opener, shown](int code, QProcess::ExitStatus status) {
    shown(status == QProcess::NormalExit && code == 0);
    opener->deleteLater();
  });
  QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, shown](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;  // the others end in finished()
    shown(false);
    opener->deleteLater();
  });
  opener->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  opener->start(QStringLiteral("xdg-open"), {page.toString()}, QIODevice::ReadOnly);
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
  return QString::fromStdString(
      frontend::LogViewerError(program.toStdString(), QFileInfo(log_path).absoluteFilePath().toStdString()));
}

QString SearchWordRefusal(const std::string& word) {
  return QString::fromStdString(frontend::SearchWordRefusal(word));
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
  // Hidden: used by scripts/screenshot, and by scripts/check_install to
  // see where an installed window finds its help page.
  QCommandLineOption search(QStringLiteral("search"), QString(), QStringLiteral("WORD"));
  QCommandLineOption help_page(QStringLiteral("help-page"));
  QCommandLineOption errors(QStringLiteral("errors"), QString(), QStringLiteral("N"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
  QCommandLineOption size(QStringLiteral("window-size"), QString(), QStringLiteral("WIDTHxHEIGHT"));
  for (QCommandLineOption* option : {&search, &errors, &screenshot, &size, &help_page}) {
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
  result.print_help_page = parser.isSet(help_page);
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
