#pragma once
#include <QApplication>
#include <QString>
#include <QWidget>

namespace vxtest {

// The one QApplication of a test program, on the offscreen platform unless the
// environment names another. Never destroyed: widgets of static lifetime may outlive it.
inline QApplication& App() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tools_tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// With VX_SHOT_DIR set, saves a picture of the window there for a person to look at.
inline void SaveShot(QWidget& window, const char* name) {
  const QString dir = qEnvironmentVariable("VX_SHOT_DIR");
  if (!dir.isEmpty()) window.grab().save(dir + QLatin1Char('/') + QLatin1String(name) + ".png");
}

}  // namespace vxtest
