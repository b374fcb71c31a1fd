#include "Unit_add.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "TareTexts.h"

namespace kl {

TForm_Add::TForm_Add(QWidget* parent, const SectionLookup& lookup, const NumberLocale& locale,
                     InsertFn insert)
    : QDialog(parent), lookup_(lookup), locale_(locale), insert_(std::move(insert)) {
  setObjectName("Form_Add");
  lbl_litr = new QLabel("Литры:", this);
  lbl_litr->setObjectName("lbl_litr");
  edit_litr = new QLineEdit("0", this);
  edit_litr->setObjectName("edit_litr");
  lbl_code = new QLabel("мм:", this);
  lbl_code->setObjectName("lbl_code");
  edit_code = new QLineEdit("0", this);
  edit_code->setObjectName("edit_code");
  btn_add = new QPushButton("Добавить", this);
  btn_add->setObjectName("btn_add");
  btn_exit = new QPushButton("Выход", this);
  btn_exit->setObjectName("btn_exit");
  // Enter in either field adds the point.
  btn_add->setDefault(true);
  btn_exit->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(lbl_litr, 0, 0);
  grid->addWidget(edit_litr, 0, 1);
  grid->addWidget(lbl_code, 1, 0);
  grid->addWidget(edit_code, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btn_add);
  buttons->addWidget(btn_exit);
  grid->addLayout(buttons, 2, 0, 1, 2);

  connect(btn_add, &QPushButton::clicked, this, [this] { btn_addClick(); });
  connect(btn_exit, &QPushButton::clicked, this, [this] { close(); });
  FormShow();
}

void TForm_Add::FormShow() {
  TareTranslateControls(this, lookup_);
  setWindowTitle(QString::fromStdString(LangText(lookup_, "Form_Add", "Добавить")));
}

void TForm_Add::btn_addClick() {
  TareBoxUi ui(this, lookup_);
  const auto mm = ParseWhole(edit_code->text().toStdString());
  if (!mm) {
    ui.ShowError("msg_wrong_code_value", 0);
    return;
  }
  const auto litres = ParseFloat32(edit_litr->text().toStdString(), locale_);
  if (!litres) {
    ui.ShowError(kAddLitrMessage.key, 0);
    return;
  }
  if (insert_) insert_(*litres, *mm, ui);
  edit_litr->setFocus();
  edit_litr->selectAll();
}

}  // namespace kl
