// The terminal's entry: fixed formats, the Qt dispatcher of the engine, the windows in
// their start-up order, the event loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "app/mainwin.h"
#include "app/startup.h"
#include "paramui/qtdispatcher.h"
#include "paramui/textcodec.h"
#include "regmodel/numberformat.h"

namespace {

// Numbers and dates look the same on every machine; the system's regional settings are
// never consulted, now or later.
void FixFormats() {
  vx::FormatSettings formats;
  formats.DecimalSeparator = '.';
  formats.ThousandSeparator = '\'';
  formats.DateSeparator = '/';
  formats.TimeSeparator = ':';
  vx::SetFormats(formats);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  FixFormats();
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  // The main window's close ends the program even while other windows are shown.
  QApplication::setQuitOnLastWindowClosed(false);

  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher installed(dispatcher);

  std::unique_ptr<TApplicationWindows> windows;
  try {
    windows = std::make_unique<TApplicationWindows>();
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
