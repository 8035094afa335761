#include "app/logmemo.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "paramui/textcodec.h"
#include "platform/atomicfile.h"
#include "regmodel/numberformat.h"

namespace vx {

namespace {

// The moment of a line, kept in its block.
class StampData : public QTextBlockUserData {
 public:
  explicit StampData(double stamp) : Stamp(stamp) {}
  double Stamp;
};

double StampOf(const QTextBlock& block) {
  const auto* data = static_cast<const StampData*>(block.userData());
  return data != nullptr ? data->Stamp : NAN;
}

// The margin shows the time of day; the date is in the saved lines.
constexpr const char* kShownStamp = "hh:mm:ss.zzz";
constexpr const char* kFileStamp = "dd/mm/yyyy hh:mm:ss.zzz";
constexpr int kPad = 4;

}  // namespace

class TLogMemo::StampArea : public QWidget {
 public:
  explicit StampArea(TLogMemo* memo) : QWidget(memo), memo_(memo) {}

 protected:
  void paintEvent(QPaintEvent* event) override { memo_->PaintStamps(event); }

 private:
  TLogMemo* memo_;
};

TLogMemo::TLogMemo(QWidget* parent) : QPlainTextEdit(parent), stampArea_(new StampArea(this)) {
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& r, int dy) {
    if (dy != 0) {
      stampArea_->scroll(0, dy);
    } else {
      stampArea_->update(0, r.y(), stampArea_->width(), r.height());
    }
  });
  setViewportMargins(StampWidth(), 0, 0, 0);
}

TLogMemo::~TLogMemo() {
  if (mirrorFd_ >= 0) ::close(mirrorFd_);
}

int TLogMemo::StampWidth() const {
  return fontMetrics().horizontalAdvance(
             QString::fromLatin1(FormatDateTime(kShownStamp, 0.5).c_str())) +
         2 * kPad;
}

void TLogMemo::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  // The font may have changed since: the margin follows it.
  setViewportMargins(StampWidth(), 0, 0, 0);
  const QRect cr = contentsRect();
  stampArea_->setGeometry(QRect(cr.left(), cr.top(), StampWidth(), cr.height()));
}

void TLogMemo::PaintStamps(QPaintEvent* event) {
  QPainter painter(stampArea_);
  const QPalette& pal = palette();
  // A shade of the log's own background, its text a little quieter than the lines'.
  const QColor base = pal.color(QPalette::Base);
  painter.fillRect(event->rect(), base.darker(108));
  painter.setPen(pal.color(QPalette::Text));
  painter.setFont(font());
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  int bottom = top + qRound(blockBoundingRect(block).height());
  const int w = stampArea_->width() - kPad;
  while (block.isValid() && top <= event->rect().bottom()) {
    if (block.isVisible() && bottom >= event->rect().top()) {
      const double stamp = StampOf(block);
      if (std::isfinite(stamp)) {
        painter.drawText(0, top, w, fontMetrics().height(), Qt::AlignRight,
                         QString::fromLatin1(FormatDateTime(kShownStamp, stamp).c_str()));
      }
    }
    block = block.next();
    top = bottom;
    bottom = top + qRound(blockBoundingRect(block).height());
  }
}

void TLogMemo::AddLine(const std::string& text, double stamp) {
  const int before = document()->blockCount();
  const bool wasEmpty = document()->isEmpty();
  appendPlainText(ToQString(text));
  // Every block the line made (a text with line breaks makes several) carries the stamp.
  QTextBlock block = document()->findBlockByNumber(wasEmpty ? 0 : before);
  for (; block.isValid(); block = block.next()) block.setUserData(new StampData(stamp));
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  if (mirrorFd_ >= 0) WriteMirror(FileLine({stamp, text}) + "\n");
}

std::vector<TLogMemo::Entry> TLogMemo::Entries() const {
  std::vector<Entry> out;
  if (document()->isEmpty()) return out;
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
    out.push_back({StampOf(b), FromQString(b.text())});
  return out;
}

std::string TLogMemo::FileLine(const Entry& entry) {
  if (!std::isfinite(entry.Stamp)) return entry.Text;
  return FormatDateTime(kFileStamp, entry.Stamp) + "  " + entry.Text;
}

std::string TLogMemo::SaveTo(const std::string& file) const {
  std::string data;
  for (const Entry& e : Entries()) data += FileLine(e) + "\n";
  const char* step = nullptr;
  const int err = WriteFileAtomically(file, data, &step);
  if (err == 0) return {};
  return "Cannot " + std::string(step != nullptr ? step : "write") + " " + file + ": " +
         std::strerror(err);
}

std::string TLogMemo::MirrorTo(const std::string& file) {
  if (mirrorFd_ >= 0) ::close(mirrorFd_);
  mirrorFd_ = -1;
  mirrorFile_ = file;
  mirrorError_.clear();
  if (file.empty()) return {};
  // O_APPEND: every write lands at the end, whole, whoever else appends to the file.
  mirrorFd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (mirrorFd_ < 0) mirrorError_ = "Log file " + file + ": " + std::strerror(errno);
  return mirrorError_;
}

void TLogMemo::WriteMirror(const std::string& line) {
  // One write per line, straight to the system: a line is never held in a buffer of
  // ours, so a crash of the program loses nothing already logged.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(mirrorFd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      mirrorError_ = "Log file " + mirrorFile_ + ": " + std::strerror(n < 0 ? errno : EIO) +
                     "; the log is no longer written there.";
      ::close(mirrorFd_);
      mirrorFd_ = -1;
      // Said in the log itself, which no longer goes to the file.
      AddLine(mirrorError_, Now());
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void TLogMemo::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu(event->pos());
  if (SaveAction != nullptr) {
    menu->addSeparator();
    menu->addAction(SaveAction);
  }
  menu->exec(event->globalPos());
  delete menu;
}

}  // namespace vx
