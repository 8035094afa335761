// The terminal's entry: fixed formats, the Qt dispatcher of the engine, the windows in
// their start-up order, the event loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/startup.h"
#include "devices/mbnetwork.h"
#include "paramui/qtdispatcher.h"
#include "paramui/textcodec.h"
#include "regmodel/dmcollection.h"
#include "regmodel/numberformat.h"

namespace {

constexpr const char* kUsage =
    "Usage: vx310-terminal [--supported-devices | --version | --help]\n"
    "Starts the VX310 Configuration Terminal in the current directory, which holds its\n"
    "settings file VX310_ConfigTerm.ini.\n"
    "  --supported-devices  start, print the data-model folder used and the drive versions\n"
    "                       each data model supports, and end (status 1: none found)\n"
    "  --version            print the program's title and end\n"
    "  --help               print this text and end\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the toolkit starts, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("%s\n", kAppTitle);
      return 0;
    }
  }
  QApplication app(argc, argv);  // takes the toolkit's own options (-platform ...) out of argv
  bool listDevices = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--supported-devices") {
      listDevices = true;
    } else {
      std::fprintf(stderr, "vx310-terminal: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  UseTerminalFormats();
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  // The main window's close ends the program even while other windows are shown.
  QApplication::setQuitOnLastWindowClosed(false);

  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);

  std::unique_ptr<TApplicationWindows> windows;
  try {
    windows = std::make_unique<TApplicationWindows>();
    if (listDevices) {
      // The same listing as the supported-device window, after the same start-up: a check
      // that an installed terminal starts and finds its data models.
      TkoDMCollection* models = windows->Network()->koMBNetwork()->DMCollection();
      std::vector<std::string> lines;
      models->ExtractAllVersionList(&lines);
      for (const std::string& line : lines)
        std::printf("%s\n", vx::ToQString(line).toLocal8Bit().constData());
      return models->ListModelFiles().empty() ? 1 : 0;
    }
    windows->ConnectProgramEnd();
    windows->MainForm()->show();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromLatin1(kAppTitle), vx::ToQString(e.what()));
    return 1;
  }
  const int rc = app.exec();
  windows.reset();
  return rc;
}
