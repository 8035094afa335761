#include "app/getstringdlg.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <memory>

#include "regmodel/numberformat.h"

namespace {

constexpr int kMessageHeight = 50;
// QLineEdit's own "no limit".
constexpr int kUnlimited = 32767;

// Shortcuts that cannot put a character into the field pass the filter.
bool IsEditingShortcut(const QKeyEvent* event) {
  return event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut) ||
         event->matches(QKeySequence::SelectAll) || event->matches(QKeySequence::Undo) ||
         event->matches(QKeySequence::Redo);
}

}  // namespace

TGetStringDlg::TGetStringDlg(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("GetStringDlg"));
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  for (int c : {8, 9, 12, 13, 27}) accepted_.set(static_cast<std::size_t>(c));
  for (int c = '#'; c <= '('; ++c) accepted_.set(static_cast<std::size_t>(c));
  for (int c = '0'; c <= '9'; ++c) accepted_.set(static_cast<std::size_t>(c));
  for (char c : {'-', '.', 'x', 'X', 'h', 'H', 'e', 'E'}) AcceptKey(c, true);
  AcceptKey(vx::Formats().DecimalSeparator, true);

  stMessage = new QLabel(this);
  stMessage->setObjectName(QStringLiteral("stMessage"));
  stMessage->setWordWrap(true);
  stMessage->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  stMessage->setFixedHeight(0);
  stMessage->hide();

  gbStringa = new QGroupBox(this);
  gbStringa->setObjectName(QStringLiteral("gbStringa"));
  // The counter's digits line up in a fixed-pitch caption.
  gbStringa->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Stringa = new QLineEdit(gbStringa);
  Stringa->setFont(font());
  Stringa->setObjectName(QStringLiteral("Stringa"));
  Stringa->setMinimumWidth(340);
  Stringa->installEventFilter(this);
  Stringa->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* frame = new QVBoxLayout(gbStringa);
  frame->addWidget(Stringa);

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnIgnore = new QPushButton(style()->standardIcon(QStyle::SP_DialogIgnoreButton),
                              QStringLiteral("Ignore"), this);
  btnIgnore->setObjectName(QStringLiteral("btnIgnore"));
  btnIgnore->setAutoDefault(false);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnIgnore);
  buttons->addWidget(btnCancel);

  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(stMessage);
  layout->addWidget(gbStringa);
  layout->addLayout(buttons);

  connect(Stringa, &QLineEdit::textChanged, this, &TGetStringDlg::TextChanged);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnIgnore, &QPushButton::clicked, this, &TGetStringDlg::Ignored);
  connect(btnCancel, &QPushButton::clicked, this, &TGetStringDlg::reject);
  connect(Stringa, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    std::unique_ptr<QMenu> menu(Stringa->createStandardContextMenu());
    // Pasting is typing too: with filtering on, only a text of accepted characters.
    if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"));
        paste != nullptr && filtering_ && !IsTextAccepted(QApplication::clipboard()->text()))
      paste->setEnabled(false);
    menu->exec(Stringa->mapToGlobal(pos));
  });
  TextChanged();
}

void TGetStringDlg::ShowIgnore(bool show) {
  btnIgnore->setVisible(show);
}

void TGetStringDlg::SetMessage(const QString& text) {
  QString shown = text;
  shown.replace(QLatin1String("\n\r"), QLatin1String("\n"));
  shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  stMessage->setText(shown);
  stMessage->setFixedHeight(text.isEmpty() ? 0 : kMessageHeight);
  // Hidden as well, so that the layout leaves no gap above the frame.
  stMessage->setVisible(!text.isEmpty());
}

void TGetStringDlg::SetString(const QString& text) {
  initial_ = text;
  Stringa->setText(text);
  TextChanged();  // setText of the same text emits nothing
}

QString TGetStringDlg::GetString() const {
  return Stringa->text();
}

void TGetStringDlg::SetMaxLength(int length) {
  Stringa->setMaxLength(length <= 0 ? kUnlimited : length);
  TextChanged();
}

int TGetStringDlg::MaxLength() const {
  const int length = Stringa->maxLength();
  return length >= kUnlimited ? 0 : length;
}

void TGetStringDlg::SetKeyFiltering(bool on) {
  filtering_ = on;
  Stringa->setAcceptDrops(!on);
}

void TGetStringDlg::AcceptKey(char c, bool accept) {
  const auto code = static_cast<unsigned char>(c);
  if (code < accepted_.size()) accepted_.set(code, accept);
}

bool TGetStringDlg::IsKeyAccepted(QChar c) const {
  return c.unicode() < accepted_.size() && accepted_.test(c.unicode());
}

bool TGetStringDlg::IsTextAccepted(const QString& text) const {
  for (QChar c : text)
    if (!IsKeyAccepted(c)) return false;
  return true;
}

void TGetStringDlg::reject() {
  Stringa->setText(initial_);
  QDialog::reject();
}

void TGetStringDlg::Ignored() {
  Stringa->setText(initial_);
  done(Ignore);
}

void TGetStringDlg::TextChanged() {
  gbStringa->setTitle(
      QString::asprintf("%3d/%3d", static_cast<int>(Stringa->text().size()), MaxLength()));
  btnOK->setEnabled(Stringa->text() != initial_);
}

void TGetStringDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  Stringa->setFocus();
}

bool TGetStringDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Stringa && filtering_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Paste))
      return !IsTextAccepted(QApplication::clipboard()->text());
    if (IsEditingShortcut(key) || key->key() == Qt::Key_Delete) return false;
    // Keys without a character (arrows, Home, and Delete, whose text is DEL) pass.
    if (!key->text().isEmpty() && !IsTextAccepted(key->text())) return true;
  }
  return QDialog::eventFilter(watched, event);
}
