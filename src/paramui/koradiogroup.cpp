#include "paramui/koradiogroup.h"

#include <QGridLayout>
#include <QRadioButton>

#include "params/parencoded.h"
#include "paramui/parrows.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"

TkoRadioGroup::TkoRadioGroup(QWidget* parent) : QGroupBox(parent), grid_(new QGridLayout(this)) {
  group_.setExclusive(true);
  setTitle(QStringLiteral("-empty-"));
  // Keyboard moves within the group toggle too, and count as a pick like a click.
  connect(&group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) vx::RunReportingErrors([this] { DoOnClick(); });
  });
}

void TkoRadioGroup::SetColumns(int columns) {
  columns_ = std::max(1, columns);
  Relayout();
}

QString TkoRadioGroup::ItemText(int index) const {
  return index >= 0 && index < ItemCount() ? buttons_[index]->text() : QString();
}

std::int64_t TkoRadioGroup::ItemTag(int index) const {
  return index >= 0 && index < ItemCount() ? tags_[index] : 0;
}

QRadioButton* TkoRadioGroup::Button(int index) const {
  return index >= 0 && index < ItemCount() ? buttons_[index] : nullptr;
}

int TkoRadioGroup::ItemIndex() const {
  for (int i = 0; i < ItemCount(); ++i)
    if (buttons_[i]->isChecked()) return i;
  return -1;
}

void TkoRadioGroup::SetItemIndex(int index) {
  const QSignalBlocker block(&group_);
  if (index >= 0 && index < ItemCount()) {
    buttons_[index]->setChecked(true);
    return;
  }
  // An exclusive group never lets the last checked button go.
  group_.setExclusive(false);
  for (QRadioButton* b : buttons_) b->setChecked(false);
  group_.setExclusive(true);
}

void TkoRadioGroup::ClearItems() {
  for (QRadioButton* b : buttons_) {
    group_.removeButton(b);
    delete b;
  }
  buttons_.clear();
  tags_.clear();
}

void TkoRadioGroup::AddItem(const QString& text, std::int64_t tag) {
  auto* b = new QRadioButton(text, this);
  // A child made inside a group already on the screen stays hidden until the layout shows
  // it from the event loop; a height fitted before then (AdaptHeight, right after the
  // binding) is that of an empty frame, which cuts the buttons off for good.
  b->show();
  group_.addButton(b, ItemCount());
  buttons_.push_back(b);
  tags_.push_back(tag);
}

void TkoRadioGroup::Relayout() {
  for (QRadioButton* b : buttons_) grid_->removeWidget(b);
  const int rows = (ItemCount() + columns_ - 1) / columns_;
  for (int i = 0; i < ItemCount(); ++i) grid_->addWidget(buttons_[i], i % rows, i / rows);
}

void TkoRadioGroup::SetPar(TkoParEncoded* par) {
  setTitle(par != nullptr ? vx::ToQString(par->GetDescr()) : QStringLiteral("-empty-"));
  ClearItems();
  if (par != nullptr) {
    TkoParChoiceList choices;
    par->GetValueList(&choices, false);
    for (const TkoParChoice& c : choices) AddItem(vx::ToQString(c.Text), c.Tag);
    Relayout();
  }
  par_ = par;
}

void TkoRadioGroup::RefreshData() {
  if (par_ == nullptr) {
    SetItemIndex(-1);
    return;
  }
  const std::int64_t code = par_->GetCode();
  int index = -1;
  for (int i = 0; i < ItemCount() && index < 0; ++i)
    if (tags_[i] == code) index = i;
  SetItemIndex(index);
  setEnabled(par_->Enabled);
  setVisible(par_->Visible);
}

void TkoRadioGroup::DoOnClick() {
  if (par_ == nullptr) return;
  const int index = ItemIndex();
  if (index < 0)
    par_->AssignDefault();
  else
    vx::ApplyChoice(par_, tags_[index], true);
  if (OnEdited) OnEdited(par_);
}
