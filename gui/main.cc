// moravine-gui [PATH]: the desktop window. The tree opens at PATH (default:
// the current folder), with that item selected.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#include "frontend/help_page.h"
#include "gui/main_window.h"
#include "gui/window_logic.h"
#include "platform/large_pages.h"
#include "platform/system_search_host.h"

namespace {

// For scripts/screenshot: types the word, presses Search, and once the
// batch has finished saves the window as a picture and closes it.
void SearchAndSave(moravine::gui::MainWindow* window, const moravine::gui::GuiArguments& args, int* exit_code) {
  auto* word = window->findChild<QLineEdit*>(QStringLiteral("searchWord1017"));
  auto* errors = window->findChild<QLineEdit*>(QStringLiteral("allowErrors1016"));
  auto* search = window->findChild<QPushButton*>(QStringLiteral("search1011"));
  word->setText(args.search_word);
  errors->setText(args.allow_errors);
  auto save = [window, args, exit_code] {
    if (window->grab().save(args.screenshot_file)) {
      *exit_code = 0;
    } else {
      std::fprintf(stderr, "moravine-gui: cannot write %s\n", qPrintable(args.screenshot_file));
    }
    window->done(0);
  };
  QObject::connect(window, &moravine::gui::MainWindow::statusChanged, window, [window, save](const QString& status) {
    // Let the last rows and the enabled buttons paint first.
    if (status.startsWith(QLatin1String("Finished"))) QTimer::singleShot(300, window, save);
  });
  if (!search->isEnabled()) {
    std::fprintf(stderr, "moravine-gui: searching is not possible (agrep not found)\n");
    window->done(0);
    return;
  }
  search->click();
  // A folder without compressed files starts no batch.
  if (!window->busy()) {
    std::fprintf(stderr, "moravine-gui: no compressed file to search below %s\n", qPrintable(args.path));
    QTimer::singleShot(300, window, save);
  }
  QTimer::singleShot(120000, window, [window] {
    std::fprintf(stderr, "moravine-gui: the search did not finish in time\n");
    window->done(0);
  });
}

}  // namespace

int main(int argc, char** argv) {
  // The agrep installed with the program comes first on PATH.
  moravine::PrependProgramDirectoryToPath();
  moravine::UseLargePagesForLargeBuffers();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Moravine"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));

  moravine::gui::GuiArguments args = moravine::gui::ParseArguments(QApplication::arguments(), QDir::currentPath());
  if (args.help) {
    std::fputs(qPrintable(args.error), stdout);
    return 0;
  }
  if (!args.error.isEmpty()) {
    std::fprintf(stderr, "moravine-gui: %s\n", qPrintable(args.error));
    return 2;
  }
  if (args.print_help_page) {
    const std::string page = moravine::frontend::FindHelpPage(
        QCoreApplication::applicationFilePath().toStdString(),
        [](const std::string& place) { return QFileInfo::exists(QString::fromStdString(place)); });
    if (page.empty()) return 1;
    std::printf("%s\n", qPrintable(QFileInfo(QString::fromStdString(page)).canonicalFilePath()));
    return 0;
  }

  moravine::gui::WindowSettings settings;
  // The probe starts the agrep that searches would start.
  settings.agrep_program = QString::fromStdString(moravine::AgrepProgram());
  settings.start_path = args.path;
  // The picture shows the window as a first run does, whatever the user's
  // own window looks like; its settings stay in the scratch folder.
  if (!args.screenshot_file.isEmpty()) settings.settings_file = QDir::current().filePath(QStringLiteral("screenshot.conf"));
  moravine::gui::MainWindow window(settings);
  if (args.window_size.isValid()) window.resize(args.window_size);
  int exit_code = 0;
  if (!args.screenshot_file.isEmpty()) {
    exit_code = 1;
    QTimer::singleShot(500, &window, [&window, &args, &exit_code] { SearchAndSave(&window, args, &exit_code); });
  }
  // The window runs as a modal dialog; the program ends when it closes.
  window.exec();
  return exit_code;
}
