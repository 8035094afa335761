#pragma once
#include <QDialog>
#include <QString>
#include <bitset>

class QEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for one line of text with an optional message above it, a character counter in
// the frame caption and an optional filter of the keys the edit field accepts. The caller
// sets the caption (setWindowTitle), shows the dialog modally (exec) and reads one of the
// results below.
class TGetStringDlg : public QDialog {
  Q_OBJECT

 public:
  // exec() results. Escape and closing the window count as Cancel.
  enum Result : int { Cancel = QDialog::Rejected, OK = QDialog::Accepted, Ignore = 2 };

  // Characters 0..127 the filter lets through.
  using KeySet = std::bitset<128>;

  explicit TGetStringDlg(QWidget* owner = nullptr);

  void ShowIgnore(bool show);
  // The message area is 0 pixels high without a message, 50 with one. "\n\r" is one
  // line break.
  void SetMessage(const QString& text);
  // The initial text: the edit field shows it, and OK stays disabled until the text
  // differs from it.
  void SetString(const QString& text);
  [[nodiscard]] QString GetString() const;
  [[nodiscard]] QString InitialString() const { return initial_; }

  // Greatest length of the text; 0 means unlimited.
  void SetMaxLength(int length);
  [[nodiscard]] int MaxLength() const;

  void SetKeyFiltering(bool on);
  [[nodiscard]] bool KeyFiltering() const { return filtering_; }
  // At creation: backspace, tab, form feed, carriage return, escape, '#' to '(', '-',
  // '.', the decimal separator, x X h H e E and the digits.
  [[nodiscard]] const KeySet& AcceptedKeys() const { return accepted_; }
  void SetAcceptedKeys(const KeySet& keys) { accepted_ = keys; }
  // Adds or removes one character of 0..127; other characters are never accepted.
  void AcceptKey(char c, bool accept);
  [[nodiscard]] bool IsKeyAccepted(QChar c) const;
  // Every character of the text is accepted.
  [[nodiscard]] bool IsTextAccepted(const QString& text) const;

  QLabel* stMessage = nullptr;
  QGroupBox* gbStringa = nullptr;
  QLineEdit* Stringa = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnIgnore = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  // Cancel and Ignore put the initial text back before they close.
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void TextChanged();
  void Ignored();

  QString initial_;
  KeySet accepted_;
  bool filtering_ = false;
};
