#pragma once
#include <QButtonGroup>
#include <QGroupBox>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QGridLayout;
class QRadioButton;
class TkoParEncoded;
class TkoParValue;

// A group of radio buttons, one per described value of an encoded parameter, laid out in
// columns that fill top to bottom. Its caption is the parameter's description.
class TkoRadioGroup : public QGroupBox {
 public:
  explicit TkoRadioGroup(QWidget* parent = nullptr);

  std::function<void(TkoParValue* par)> OnEdited;

  void SetPar(TkoParEncoded* par);
  TkoParEncoded* Par() const { return par_; }
  void RefreshData();
  void DoOnClick();

  int Columns() const { return columns_; }
  void SetColumns(int columns);
  int ItemCount() const { return static_cast<int>(buttons_.size()); }
  QString ItemText(int index) const;
  std::int64_t ItemTag(int index) const;
  // The checked item, -1 for none.
  int ItemIndex() const;
  void SetItemIndex(int index);
  QRadioButton* Button(int index) const;

 private:
  void ClearItems();
  void AddItem(const QString& text, std::int64_t tag);
  void Relayout();

  TkoParEncoded* par_ = nullptr;
  QButtonGroup group_;
  QGridLayout* grid_;
  std::vector<QRadioButton*> buttons_;
  std::vector<std::int64_t> tags_;
  int columns_ = 1;
};
