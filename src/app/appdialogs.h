#pragma once
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace vx {

// The few modal questions the main window and the supervisor ask: a message box with
// one OK button, a Yes/No question and a one-line input box. They go through these
// hooks so that a test (or a program without a person in front of it) can answer them;
// by default they are the toolkit's standard boxes. A text's "\n\r" is one line break.
struct AppDialogs {
  std::function<void(QWidget* parent, const QString& text)> Message;
  // True for Yes.
  std::function<bool(QWidget* parent, const QString& title, const QString& text)> AskYesNo;
  // The entered text, none on Cancel.
  std::function<std::optional<QString>(QWidget* parent, const QString& title, const QString& prompt,
                                       const QString& text)>
      InputText;
};

// The hooks in force; empty members fall back to the standard boxes.
AppDialogs& Dialogs();

void ShowMessage(QWidget* parent, const QString& text);
bool AskYesNo(QWidget* parent, const QString& title, const QString& text);
std::optional<QString> InputText(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& text);

// "\n\r" of a specified message text is one line break on screen.
QString MessageText(const QString& text);

}  // namespace vx
