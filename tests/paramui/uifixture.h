#pragma once
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "params/parencoded.h"
#include "params/parfixture.h"
#include "params/parvalue.h"
#include "paramui/kocombobox.h"
#include "paramui/parrows.h"
#include "qtapp.h"

namespace vxtest {

// Registers of every type class the editor treats differently, with and without limits.
inline const char* kUiModel =
    "[1]\nName=Speed\nDescr=Max speed\nMinValue=100\nMaxValue=3000\nDfltValue=1500\n"
    "[2]\nName=Baud\nUseDefinition=@ModBusBaudrate\n"
    "[3]\nName=Config\nType=unsigned short\nDfltValue=10h\n"
    "Descr[0m1]=Use ramp\nDescr[0m1v0]=No ramp\nDescr[0m1v1]=Ramp\n"
    "Descr[0m30]=Reference\nDescr[0m30v0]=None\nDescr[0m30v1]=Bus\n"
    "Descr[0m30v2]=Analog\nDescr[0m30v3]=Step/Dir\n"
    "[4]\nName=Gains\nLength=3\nMinValue=0\nMaxValue=100\nDescr=Gain\n"
    "[5]\nName=Plain\nDescr=No limits\n"
    "[6]\nName=Day\nType=date\n"
    "[7]\nName=Clock\nType=time\n"
    "[8]\nName=Label\nType=string\nLength=8\n";

// A data model and a window with a report list whose rows carry parameters, the way the
// binder fills it.
class UiModel {
 public:
  UiModel() : model(kUiModel) {}

  TkoRegister* R(const char* name) const { return model.R(name); }

  // Rows "Parameter" | "Value" with the parameters (null: a separator).
  void FillList(const std::vector<TkoParValue*>& pars) {
    list->setColumnCount(2);
    list->setRootIsDecorated(false);
    list->resize(400, 300);
    for (TkoParValue* p : pars) {
      auto* row = new QTreeWidgetItem(list);
      vx::SetRowPar(row, p);
      if (p != nullptr) row->setText(0, QString::fromStdString(p->GetDescr()));
    }
    window.show();
  }

  bool appReady = (App(), true);  // before any widget
  ParModel model;
  QWidget window;
  QTreeWidget* list = new QTreeWidget(&window);
};

// The widget keys go to: the line of an editable box, else the box.
inline QWidget* KeyTarget(TkoComboBox& editor) {
  return editor.lineEdit() != nullptr ? static_cast<QWidget*>(editor.lineEdit()) : &editor;
}

// Moves the box's selection to the line with the tag by arrow keys, as the engineer does.
inline bool PickTag(TkoComboBox& editor, qlonglong tag) {
  const int target = editor.findData(QVariant::fromValue(tag));
  if (target < 0) return false;
  for (int guard = 0; guard < 100 && editor.currentIndex() != target; ++guard)
    QTest::keyClick(KeyTarget(editor), editor.currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
  return editor.currentIndex() == target;
}

}  // namespace vxtest
