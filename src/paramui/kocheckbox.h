#pragma once
#include <QCheckBox>
#include <functional>

class TkoParBoolField;
class TkoParValue;

// A check box showing and switching one boolean-field parameter; hidden while it has none.
class TkoCheckBox : public QCheckBox {
 public:
  explicit TkoCheckBox(QWidget* parent = nullptr);

  std::function<void(TkoParValue* par)> OnEdited;

  void SetPar(TkoParBoolField* par);
  TkoParBoolField* Par() const { return par_; }
  void RefreshData();
  void DoOnClick();

 private:
  TkoParBoolField* par_ = nullptr;
};
