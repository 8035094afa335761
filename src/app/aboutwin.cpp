#include "app/aboutwin.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QVBoxLayout>
#include <QtMath>
#include <algorithm>
#include <exception>

#include "config/inifile.h"
#include "devices/devicesetup.h"
#include "devices/vx310.h"
#include "paramui/textcodec.h"
#include "regmodel/regdefslist.h"

namespace {

constexpr const char* kSection = "AboutForm";
constexpr const char* kNotConnected = "Not connected! (or unknown device)";
const std::string kDashes(19, '-');

QString Joined(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines) list.append(vx::ToQString(line));
  return list.join(QLatin1Char('\n'));
}

// Width of the widest line of the box, tabs expanded at the box's tab stops.
int TextWidth(const QPlainTextEdit* box) {
  const QFontMetrics fm(box->font());
  const int tab = qRound(box->tabStopDistance());
  int widest = 0;
  for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next())
    widest =
        std::max(widest, fm.size(Qt::TextExpandTabs | Qt::TextSingleLine, b.text(), tab).width());
  return widest;
}

}  // namespace

namespace vx {

std::vector<std::string> SplitCommaText(const std::string& text) {
  std::vector<std::string> items;
  const auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
  std::size_t p = 0;
  const std::size_t n = text.size();
  while (p < n && blank(text[p])) ++p;
  while (p < n) {
    std::string item;
    if (text[p] == '"') {
      // Up to the closing quote; a doubled quote is one quote; an unclosed item runs to the end.
      for (++p; p < n; ++p) {
        if (text[p] != '"') {
          item += text[p];
        } else if (p + 1 < n && text[p + 1] == '"') {
          item += '"';
          ++p;
        } else {
          ++p;
          break;
        }
      }
    } else {
      const std::size_t start = p;
      while (p < n && !blank(text[p]) && text[p] != ',') ++p;
      item = text.substr(start, p - start);
    }
    items.push_back(std::move(item));
    while (p < n && blank(text[p])) ++p;
    if (p < n && text[p] == ',') {
      // A comma at the very end still separates an empty last item.
      if (p + 1 == n) items.emplace_back();
      do ++p;
      while (p < n && blank(text[p]));
    }
  }
  return items;
}

std::vector<std::string> AboutLines(const TIniFile& settings) {
  std::vector<std::string> lines;
  const auto read = [&](const char* key, const char* dflt) {
    return settings.ReadString(kSection, key, dflt);
  };
  lines.push_back("\t" + read("Application", "-APPLICATION NAME-") + " " + read("Version", "V.ER") +
                  "_");
  lines.emplace_back();
  if (std::string company = read("Company", ""); !company.empty()) lines.push_back(company);
  if (std::string address = read("Address", ""); !address.empty()) {
    for (std::string& item : SplitCommaText(address)) lines.push_back(std::move(item));
    lines.emplace_back();
  }
  for (const auto& [key, label] : {std::pair{"Phone", "Phone:\t"}, std::pair{"Fax", "Fax:\t"},
                                   std::pair{"e-mail", "e-mail:\t"}, std::pair{"Web", "Web:\t"}})
    if (std::string value = read(key, ""); !value.empty()) lines.push_back(label + value);
  lines.emplace_back();
  if (std::string message = read("Message", ""); !message.empty()) {
    lines.push_back(kDashes);
    for (std::string& item : SplitCommaText(message)) lines.push_back(std::move(item));
    lines.push_back(kDashes);
  }
  return lines;
}

std::vector<std::string> DriveLines(TkoDeviceVX310& drive) {
  std::vector<std::string> lines;
  lines.push_back("Hardware/Firmware: " + drive.GetVersion().ToString());
  TkoRegDefsList* model = drive.DefsList();
  lines.push_back("Description: " + (model != nullptr ? model->GetVersionDescr() : std::string()));
  try {
    drive.ReportDevice(&lines);
  } catch (const std::exception& e) {
    lines.push_back(std::string("The drive's properties cannot be shown: ") + e.what());
  }
  return lines;
}

std::vector<std::string> DeviceLines(TkoDeviceSetup* setup) {
  auto* drive = setup != nullptr && setup->GetState() == TkoDeviceSetup::dsReady
                    ? dynamic_cast<TkoDeviceVX310*>(setup->GetSlave())
                    : nullptr;
  if (drive == nullptr) return {kNotConnected};
  return DriveLines(*drive);
}

}  // namespace vx

TAboutForm::TAboutForm(const std::string& settingsFile, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("AboutForm"));

  Panel = new QFrame(this);
  Panel->setObjectName(QStringLiteral("Panel"));
  Panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel->setLineWidth(2);
  QPalette framePalette = Panel->palette();
  // A sunken panel draws its bevel in the dark and light roles: both green.
  framePalette.setColor(QPalette::Dark, QColor(0, 128, 0));
  framePalette.setColor(QPalette::Shadow, QColor(0, 100, 0));
  framePalette.setColor(QPalette::Light, QColor(0, 200, 0));
  framePalette.setColor(QPalette::Midlight, QColor(0, 170, 0));
  Panel->setPalette(framePalette);

  Memo = new QPlainTextEdit(Panel);
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setReadOnly(true);
  Memo->setFrameShape(QFrame::NoFrame);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  QPalette memoPalette = Memo->palette();
  memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button));
  Memo->setPalette(memoPalette);
  Memo->viewport()->installEventFilter(this);

  DeviceMemo = new QPlainTextEdit(Panel);
  DeviceMemo->setObjectName(QStringLiteral("DeviceMemo"));
  DeviceMemo->setReadOnly(true);
  DeviceMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont courier(QStringLiteral("Courier New"));
  courier.setStyleHint(QFont::TypeWriter);
  courier.setFixedPitch(true);
  courier.setBold(true);
  DeviceMemo->setFont(courier);
  QPalette devicePalette = DeviceMemo->palette();
  devicePalette.setColor(QPalette::Text, QColor(0, 128, 128));
  DeviceMemo->setPalette(devicePalette);

  for (QPlainTextEdit* box : {Memo, DeviceMemo})
    box->setTabStopDistance(8 * QFontMetricsF(box->font()).horizontalAdvance(QLatin1Char(' ')));
  // The upper box is sized to its texts; only a long drive report may need to scroll.
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  auto* inner = new QVBoxLayout(Panel);
  inner->setContentsMargins(7, 7, 7, 7);
  inner->setSpacing(0);
  inner->addWidget(Memo);
  inner->addWidget(DeviceMemo);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(Panel);

  acExit = new QAction(QStringLiteral("Exit"), this);
  acExit->setObjectName(QStringLiteral("acExit"));
  acExit->setShortcut(QKeySequence(Qt::Key_Escape));
  addAction(acExit);
  connect(acExit, &QAction::triggered, this, &QDialog::reject);

  // The texts are maintained by hand in the settings file; the program never writes them.
  Memo->setPlainText(Joined(vx::AboutLines(vx::TIniFile(settingsFile))));
  DeviceMemo->setPlainText(vx::ToQString(kNotConnected));
  connect(DeviceMemo, &QPlainTextEdit::textChanged, this, &TAboutForm::AdaptHeights);
  AdaptHeights();
}

void TAboutForm::FillDeviceMemo() {
  DeviceMemo->setPlainText(Joined(vx::DeviceLines(deviceSource_ ? deviceSource_() : nullptr)));
}

void TAboutForm::AdaptHeights() {
  const auto boxHeight = [](const QPlainTextEdit* box, int lines) {
    // One line is the height of the text "0", or the line spacing when that is more; the
    // document margin and the frame come on top.
    const QFontMetrics fm(box->font());
    const int line = std::max(fm.boundingRect(QStringLiteral("0")).height(), fm.lineSpacing());
    return lines * line + 2 * qCeil(box->document()->documentMargin()) + 2 * box->frameWidth();
  };
  const QRect screen =
      (this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen())
          ->availableGeometry();
  int memoHeight = boxHeight(Memo, Memo->blockCount());
  int deviceHeight = boxHeight(DeviceMemo, DeviceMemo->blockCount() + 1);
  // A long property report scrolls rather than pushing the window off the screen.
  const int room = screen.height() * 9 / 10 - memoHeight - 14;
  deviceHeight = std::min(deviceHeight, std::max(room, boxHeight(DeviceMemo, 4)));
  Memo->setFixedHeight(memoHeight);
  DeviceMemo->setFixedHeight(deviceHeight);

  const int scroll = DeviceMemo->verticalScrollBar()->sizeHint().width();
  const int width = std::max(TextWidth(Memo) + 2 * qRound(Memo->document()->documentMargin()),
                             TextWidth(DeviceMemo) + scroll +
                                 2 * qRound(DeviceMemo->document()->documentMargin()) +
                                 2 * DeviceMemo->frameWidth()) +
                    8;
  Panel->setFixedWidth(std::min(width + 14, screen.width() * 9 / 10));
  Panel->setFixedHeight(memoHeight + deviceHeight + 14);
  adjustSize();
  move(screen.center() - QPoint(this->width() / 2, this->height() / 2));
}

void TAboutForm::showEvent(QShowEvent* event) {
  FillDeviceMemo();
  QDialog::showEvent(event);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo->viewport() && event->type() == QEvent::MouseButtonRelease) {
    reject();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
