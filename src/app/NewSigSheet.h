#pragma once

#include "app/SheetWindow.h"

class QComboBox;
class QLineEdit;
class QPushButton;

// The add-file-type sheet ("newSigWindow"): a category to pick or type, the
// new type's name, extension, header signature in hex, its offset and the
// maximum size of a recovered file. The checks of what was typed are the
// list's own; the sheet only holds the inputs.
class NewSigSheet : public SheetWindow {
    Q_OBJECT
public:
    explicit NewSigSheet(QWidget* parent = nullptr);

    QComboBox* category() const { return category_; }
    QLineEdit* software() const { return software_; }
    QLineEdit* extension() const { return extension_; }
    QLineEdit* header() const { return header_; }
    QLineEdit* offset() const { return offset_; }
    QLineEdit* maxFileSize() const { return maxFileSize_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    QComboBox* category_;
    QLineEdit* software_;
    QLineEdit* extension_;
    QLineEdit* header_;
    QLineEdit* offset_;
    QLineEdit* maxFileSize_;
    QPushButton* ok_;
    QPushButton* cancel_;
};
