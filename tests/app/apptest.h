#pragma once
// Helpers of the application tests: the one QApplication (qtapp.h), a folder of the test
// process's own (the device tests' ScratchDir), and recorded answers to the modal boxes.
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
#include "devices/devicekit.h"  // ScratchDir, ShippedVX310
#include "qtapp.h"

namespace vxtest {

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
      // The text itself is copied, not the optional: GCC 12 at -O3 cannot follow an
      // optional's engaged flag through the copy and warns of an uninitialised string.
      const bool given = inputs.front().has_value();
      const QString answer = given ? *inputs.front() : QString();
      inputs.pop_front();
      if (!given) return std::nullopt;
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
