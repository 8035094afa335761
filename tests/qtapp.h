#pragma once
// The widgets of the user-interface test programs: the one QApplication and pictures of
// windows for a person to look at.
#include <errno.h>  // program_invocation_short_name

#include <QApplication>
#include <QString>
#include <QWidget>

namespace vxtest {

// The one QApplication of a test program, on the offscreen platform unless the
// environment names another. Never destroyed: widgets of static lifetime may outlive it.
inline QApplication& App() {
  static QApplication* app = []() -> QApplication* {
    // Another part of the program may have made it already; there is only one.
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// With VX_SHOT_DIR set, saves a picture of the window there for a person to look at.
inline void SaveShot(QWidget& window, const char* name) {
  const QString dir = qEnvironmentVariable("VX_SHOT_DIR");
  if (dir.isEmpty()) return;
  // The picture shows the window as the engineer sees it, after pending layout work.
  QApplication::sendPostedEvents();
  window.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + ".png");
}

}  // namespace vxtest
