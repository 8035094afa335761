#pragma once
#include <QPlainTextEdit>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QPaintEvent;
class QResizeEvent;

namespace vx {

// The message log of the main window. Every line carries the moment it was written (local
// date and time in days); the time is shown in a margin beside the line, so the text of a
// line stays the message itself. Saved and mirrored lines begin with the date and time in
// the process-wide formats.
class TLogMemo : public QPlainTextEdit {
 public:
  struct Entry {
    double Stamp;      // local date and time in days; NaN for text put in without one
    std::string Text;  // Windows-1252
  };

  explicit TLogMemo(QWidget* parent = nullptr);
  ~TLogMemo() override;

  // Appends one line stamped `stamp` and shows it (the newest line is the one that matters).
  // Written to the mirror file too, when there is one.
  void AddLine(const std::string& text, double stamp);
  [[nodiscard]] std::vector<Entry> Entries() const;
  // A line as saved: "dd/mm/yyyy hh:mm:ss.zzz  text".
  [[nodiscard]] static std::string FileLine(const Entry& entry);

  // Writes every line to `file`, atomically. An error text, empty on success.
  [[nodiscard]] std::string SaveTo(const std::string& file) const;

  // Every line written from now on is appended to `file` as well, one write per line to a
  // file opened for appending, so that lines of two terminals never mix and a crash of the
  // program loses nothing written. Empty: no mirror. An error text, empty on success.
  [[nodiscard]] std::string MirrorTo(const std::string& file);
  [[nodiscard]] const std::string& MirrorFile() const { return mirrorFile_; }
  // Why the mirror stopped, empty while it works (or there is none).
  [[nodiscard]] const std::string& MirrorError() const { return mirrorError_; }

  // Added to the context menu.
  QAction* SaveAction = nullptr;

  // Width of the time margin.
  [[nodiscard]] int StampWidth() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  class StampArea;
  void PaintStamps(QPaintEvent* event);
  void WriteMirror(const std::string& line);

  StampArea* stampArea_ = nullptr;
  int mirrorFd_ = -1;
  std::string mirrorFile_;
  std::string mirrorError_;
};

}  // namespace vx
