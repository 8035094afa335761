#pragma once
#include <QApplication>
#include <QByteArray>

namespace vxtest {

// The one QApplication of a test program, on the offscreen platform unless the
// environment names another. Never destroyed: widgets of static lifetime may outlive it.
inline QApplication& App() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "paramui_tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace vxtest
