// The terminal's entry: fixed formats, the Qt dispatcher of the engine, the windows in
// their start-up order, the event loop.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "paramui/qtdispatcher.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
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

  std::unique_ptr<TMainForm> mainForm;
  std::unique_ptr<TNetwork> network;
  try {
    mainForm = std::make_unique<TMainForm>();
    network = std::make_unique<TNetwork>(mainForm.get());
    mainForm->SetNetwork(network.get());
    QObject::connect(mainForm.get(), &TMainForm::Closed, &app, &QApplication::quit);
    mainForm->show();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromLatin1(kAppTitle), vx::ToQString(e.what()));
    return 1;
  }

  const int rc = app.exec();
  // The connection goes first: its thread hands its last work to the dispatcher, and
  // the windows it feeds must still be there.
  network.reset();
  mainForm->SetNetwork(nullptr);
  mainForm.reset();
  return rc;
}
