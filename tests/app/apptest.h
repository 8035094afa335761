#pragma once
// Helpers of the application tests: the one QApplication, a folder of the test process's
// own (the device tests' ScratchDir), and recorded answers to the modal boxes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QString>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/appdialogs.h"
#include "devices/devicekit.h"  // ScratchDir

namespace vxtest {

// The one QApplication of a test program, offscreen unless the environment names another
// platform. Never destroyed: widgets of static lifetime may outlive it.
inline QApplication& App() {
  static QApplication* app = []() -> QApplication* {
    // Another part of the program may have made it already; there is only one.
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return existing;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Answers the modal boxes instead of a person and notes what they said. Input boxes take
// their answers from `inputs` (none left: Cancel); questions answer `yes`.
class FakeDialogs {
 public:
  FakeDialogs() {
    vx::Dialogs().Message = [this](QWidget*, const QString& text) {
      messages.push_back(text.toStdString());
    };
    vx::Dialogs().AskYesNo = [this](QWidget*, const QString& title, const QString& text) {
      questions.push_back(title.toStdString() + "|" + text.toStdString());
      return yes;
    };
    vx::Dialogs().InputText = [this](QWidget*, const QString& title, const QString& prompt,
                                     const QString& text) -> std::optional<QString> {
      prompts.push_back(title.toStdString() + "|" + prompt.toStdString() + "|" +
                        text.toStdString());
      if (inputs.empty()) return std::nullopt;
      std::optional<QString> answer = inputs.front();
      inputs.pop_front();
      return answer;
    };
  }
  ~FakeDialogs() { vx::Dialogs() = vx::AppDialogs{}; }
  FakeDialogs(const FakeDialogs&) = delete;
  FakeDialogs& operator=(const FakeDialogs&) = delete;

  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<std::string> prompts;
  std::deque<std::optional<QString>> inputs;
  bool yes = false;
};

}  // namespace vxtest
