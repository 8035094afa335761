#pragma once
// The widgets of the user-interface test programs: the one QApplication and pictures of
// windows for a person to look at.
#include <errno.h>  // program_invocation_short_name

#include <QApplication>
#include <QPalette>
#include <QString>
#include <QStyleFactory>
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
    auto* made = new QApplication(argc, argv);
    // With VX_DARK_PALETTE set, the windows are pictured as on a desktop with a dark theme.
    if (!qEnvironmentVariableIsEmpty("VX_DARK_PALETTE")) {
      QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
      QPalette dark;
      dark.setColor(QPalette::Window, QColor(45, 45, 48));
      dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
      dark.setColor(QPalette::Base, QColor(30, 30, 30));
      dark.setColor(QPalette::AlternateBase, QColor(50, 50, 55));
      dark.setColor(QPalette::Text, QColor(230, 230, 230));
      dark.setColor(QPalette::Button, QColor(60, 60, 64));
      dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
      dark.setColor(QPalette::ToolTipBase, QColor(60, 60, 40));
      dark.setColor(QPalette::ToolTipText, QColor(240, 240, 220));
      dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
      dark.setColor(QPalette::HighlightedText, Qt::white);
      dark.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
      dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
      dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
      QApplication::setPalette(dark);
    }
    return made;
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
