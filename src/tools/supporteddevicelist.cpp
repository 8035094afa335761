#include "tools/supporteddevicelist.h"

#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <exception>
#include <string>
#include <vector>

#include "devices/mbnetwork.h"
#include "paramui/textcodec.h"
#include "regmodel/dmcollection.h"

TkoSupportedDeviceList::TkoSupportedDeviceList(QWidget* owner) : QDialog(owner, Qt::Tool) {
  setObjectName(QStringLiteral("koSupportedDeviceList"));
  setWindowTitle(QStringLiteral("Supported devices"));
  setSizeGripEnabled(true);

  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setReadOnly(true);
  // Read-only still lets the engineer select and copy the list.
  Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setTabChangesFocus(false);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(11);
  Memo->setFont(font);
  // The model names are padded to 30 columns before the "="; keep tabs on a column grid.
  Memo->setTabStopDistance(8 * QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')));
  Memo->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo);
  resize(499, 240);
}

int TkoSupportedDeviceList::ShowModal(TkoDMCollection* collection) {
  collection_ = collection;
  if (QWidget* owner = parentWidget()) {
    // Centred over the owner, the way the engineer expects a tool window to open.
    const QRect over = owner->frameGeometry();
    move(over.center() - QPoint(width() / 2, height() / 2));
  }
  return exec();
}

void TkoSupportedDeviceList::FormShow() {
  Memo->clear();
  std::vector<std::string> lines;
  if (collection_ == nullptr) {
    lines.emplace_back("- Unknown DataModels collection -");
  } else {
    // A file of the folder that cannot be listed must not take the window down with it.
    try {
      collection_->ExtractAllVersionList(&lines);
    } catch (const std::exception& e) {
      lines.push_back(std::string("Data-model files cannot be listed: ") + e.what());
    }
  }
  QStringList text;
  text.reserve(static_cast<qsizetype>(lines.size()));
  for (const std::string& line : lines) text.append(vx::ToQString(line));
  Memo->setPlainText(text.join(QLatin1Char('\n')));
  Memo->moveCursor(QTextCursor::Start);
}

void TkoSupportedDeviceList::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

bool TkoSupportedDeviceList::ExitKeyPress(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) return false;
  reject();
  return true;
}

void TkoSupportedDeviceList::keyPressEvent(QKeyEvent* event) {
  if (!ExitKeyPress(event)) QDialog::keyPressEvent(event);
}

bool TkoSupportedDeviceList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo && event->type() == QEvent::KeyPress &&
      ExitKeyPress(static_cast<QKeyEvent*>(event)))
    return true;
  return QDialog::eventFilter(watched, event);
}

namespace vx {

void InstallSupportedDeviceList(TkoMBNetwork* network, QWidget* mainWindow) {
  if (network == nullptr) return;
  QPointer<QWidget> owner(mainWindow);
  const bool hadOwner = mainWindow != nullptr;
  network->OnShowSupportedDeviceList = [owner, hadOwner](TkoMBNetwork*,
                                                         TkoDMCollection* collection) {
    if (hadOwner && owner.isNull()) return;
    TkoSupportedDeviceList dialog(owner.data());
    dialog.ShowModal(collection);
  };
}

}  // namespace vx
