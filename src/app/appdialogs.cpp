#include "app/appdialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace vx {

AppDialogs& Dialogs() {
  static AppDialogs dialogs;
  return dialogs;
}

QString MessageText(const QString& text) {
  QString out = text;
  out.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  return out;
}

void ShowMessage(QWidget* parent, const QString& text) {
  if (Dialogs().Message) return Dialogs().Message(parent, text);
  QMessageBox::information(parent, QApplication::applicationName(), MessageText(text),
                           QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& title, const QString& text) {
  if (Dialogs().AskYesNo) return Dialogs().AskYesNo(parent, title, text);
  return QMessageBox::question(parent, title, MessageText(text),
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QString> InputText(QWidget* parent, const QString& title, const QString& prompt,
                                 const QString& text) {
  if (Dialogs().InputText) return Dialogs().InputText(parent, title, prompt, text);
  bool ok = false;
  const QString entered =
      QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, text, &ok);
  if (!ok) return std::nullopt;
  return entered;
}

}  // namespace vx
