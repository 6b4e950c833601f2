#include "app/NewSigSheet.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

NewSigSheet::NewSigSheet(QWidget* parent)
    : SheetWindow(QStringLiteral("newSigWindow"), tr("Add File Type"),
                  tr("Pick a category or type a new one, and give the header bytes that start such a file."), parent),
      category_(new QComboBox(this)), software_(new QLineEdit(this)), extension_(new QLineEdit(this)),
      header_(new QLineEdit(this)), offset_(new QLineEdit(this)), maxFileSize_(new QLineEdit(this)),
      ok_(new QPushButton(tr("OK"), this)), cancel_(new QPushButton(tr("Cancel"), this)) {
    category_->setObjectName(QStringLiteral("comboBoxSigCategory"));
    category_->setEditable(true);
    category_->setInsertPolicy(QComboBox::NoInsert);
    software_->setObjectName(QStringLiteral("textFieldSigSoftware"));
    extension_->setObjectName(QStringLiteral("textFieldSigExtension"));
    header_->setObjectName(QStringLiteral("textFieldSigHeader"));
    header_->setPlaceholderText(QStringLiteral("FF D8 FF"));
    offset_->setObjectName(QStringLiteral("textFieldSigOffset"));
    maxFileSize_->setObjectName(QStringLiteral("textFieldMaxFileSize"));
    auto* form = new QFormLayout;
    form->addRow(tr("Category:"), category_);
    form->addRow(tr("File Type Name:"), software_);
    form->addRow(tr("Extension:"), extension_);
    form->addRow(tr("Signature (hex):"), header_);
    form->addRow(tr("Offset (bytes):"), offset_);
    form->addRow(tr("Maximum File Size to recover (MB):"), maxFileSize_);
    body()->addLayout(form);
    ok_->setObjectName(QStringLiteral("buttonNewSigOK"));
    ok_->setDefault(true);
    cancel_->setObjectName(QStringLiteral("buttonNewSigCancel"));
    buttons()->addWidget(cancel_);
    buttons()->addWidget(ok_);
}
