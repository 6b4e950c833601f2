#pragma once

#include "app/WizardScreen.h"

class BusyIndicator;
class ClearingSearchField;
class OutlineViewHighlightingRow;
class QPushButton;

// "Tree": what the scan found, as an outline of folders and files to mark,
// find, preview and save, with the totals and the session saving.
class TreeScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit TreeScreen(QWidget* parent = nullptr);

    QPushButton* buttonTreeFileTypesToggle() const { return buttonTreeFileTypesToggle_; }
    QPushButton* buttonTreeShowDeleted() const { return buttonTreeShowDeleted_; }
    ClearingSearchField* findField() const { return findField_; }
    BusyIndicator* findProgress() const { return findProgress_; }
    // The find's steps through what it found.
    QPushButton* prevButton() const { return prevButton_; }
    QPushButton* nextButton() const { return nextButton_; }
    QPushButton* markAllButton() const { return markAllButton_; }
    QPushButton* unmarkAllButton() const { return unmarkAllButton_; }
    OutlineViewHighlightingRow* outlineViewData() const { return outlineViewData_; }
    QLabel* textFieldTotalData() const { return textFieldTotalData_; }
    QLabel* textFieldMarkedData() const { return textFieldMarkedData_; }
    QLabel* findTextField() const { return findTextField_; }
    QLabel* findTextFieldSelectedIndex() const { return findTextFieldSelectedIndex_; }
    QLabel* textFieldTreeStatus() const { return textFieldTreeStatus_; }
    QPushButton* buttonTreeBackToPartitions() const { return buttonTreeBackToPartitions_; }
    QPushButton* previewButton() const { return previewButton_; }
    QPushButton* saveScanButton() const { return saveScanButton_; }
    QPushButton* saveButton() const { return saveButton_; }

private:
    QPushButton* buttonTreeFileTypesToggle_;
    QPushButton* buttonTreeShowDeleted_;
    ClearingSearchField* findField_;
    BusyIndicator* findProgress_;
    QPushButton* prevButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* markAllButton_ = nullptr;
    QPushButton* unmarkAllButton_ = nullptr;
    OutlineViewHighlightingRow* outlineViewData_;
    QLabel* textFieldTotalData_ = nullptr;
    QLabel* textFieldMarkedData_ = nullptr;
    QLabel* findTextField_ = nullptr;
    QLabel* findTextFieldSelectedIndex_ = nullptr;
    QLabel* textFieldTreeStatus_;
    QPushButton* buttonTreeBackToPartitions_;
    QPushButton* previewButton_;
    QPushButton* saveScanButton_;
    QPushButton* saveButton_;
};
