#include "paramui/kocheckbox.h"

#include "params/parencoded.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"

TkoCheckBox::TkoCheckBox(QWidget* parent) : QCheckBox(parent) {
  setVisible(false);
  setText(QStringLiteral("-empty-"));
  connect(this, &QCheckBox::clicked, this,
          [this] { vx::RunReportingErrors([this] { DoOnClick(); }); });
}

void TkoCheckBox::SetPar(TkoParBoolField* par) {
  setText(par != nullptr ? vx::ToQString(par->GetDescr()) : QStringLiteral("-empty-"));
  par_ = par;
}

void TkoCheckBox::RefreshData() {
  if (par_ == nullptr) {
    setVisible(false);
    return;
  }
  setVisible(par_->Visible);
  setEnabled(par_->Enabled && !par_->ReadOnly);
  const QSignalBlocker block(this);
  setChecked(par_->GetBool());
}

void TkoCheckBox::DoOnClick() {
  if (par_ == nullptr) return;
  par_->SetBool(isChecked());
  if (OnEdited) OnEdited(par_);
}
