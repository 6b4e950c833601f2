#pragma once

#include "app/WizardScreen.h"

class ColorGradientView;
class NewSigSheet;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeView;

// "Signatures": the file types to search for, by category, with their
// counts, the find, the editing of user types, the estimated speed and the
// choice to narrow the search to a part of the drive.
class SignaturesScreen : public WizardScreen {
    Q_OBJECT
public:
    explicit SignaturesScreen(QWidget* parent = nullptr);

    QLineEdit* findFTSearchField() const { return findFTSearchField_; }
    // Walks the types the find found.
    QSpinBox* stepperFT() const { return stepperFT_; }
    QLabel* findFTStatusTextField() const { return findFTStatusTextField_; }
    QTreeView* outlineViewSig() const { return outlineViewSig_; }
    QLabel* textFieldNumMarkedUnmarkedSig() const { return textFieldNumMarkedUnmarkedSig_; }
    QLabel* textFieldNumTotalSig() const { return textFieldNumTotalSig_; }
    QLabel* textFieldNumTotalSigCategories() const { return textFieldNumTotalSigCategories_; }
    QPushButton* buttonSigSelectAll() const { return buttonSigSelectAll_; }
    QPushButton* buttonSigDeselectAll() const { return buttonSigDeselectAll_; }
    QPushButton* buttonSigAddFileType() const { return buttonSigAddFileType_; }
    QPushButton* buttonSigRemoveFileType() const { return buttonSigRemoveFileType_; }
    QPushButton* buttonSigLoadFileTypes() const { return buttonSigLoadFileTypes_; }
    ColorGradientView* imageViewSigSpeedGradient() const { return imageViewSigSpeedGradient_; }
    // Whether the search range is asked for before the scan starts.
    QCheckBox* rawSearchCheckBox() const { return rawSearchCheckBox_; }
    QPushButton* buttonSigSelBack() const { return buttonSigSelBack_; }
    QPushButton* skipButtonSigTab() const { return skipButtonSigTab_; }
    QPushButton* nextButtonSigTab() const { return nextButtonSigTab_; }
    NewSigSheet* newSigWindow() const { return newSigWindow_; }
    // Adding and deleting file types, offered where the list is the one of
    // the partition scans.
    void setFileTypeEditingShown(bool shown);

private:
    QLineEdit* findFTSearchField_;
    QSpinBox* stepperFT_;
    QLabel* findFTStatusTextField_;
    QTreeView* outlineViewSig_;
    QLabel* textFieldNumMarkedUnmarkedSig_;
    QLabel* textFieldNumTotalSig_;
    QLabel* textFieldNumTotalSigCategories_;
    QPushButton* buttonSigSelectAll_ = nullptr;
    QPushButton* buttonSigDeselectAll_ = nullptr;
    QPushButton* buttonSigAddFileType_ = nullptr;
    QPushButton* buttonSigRemoveFileType_ = nullptr;
    QPushButton* buttonSigLoadFileTypes_ = nullptr;
    ColorGradientView* imageViewSigSpeedGradient_;
    QCheckBox* rawSearchCheckBox_;
    QPushButton* buttonSigSelBack_;
    QPushButton* skipButtonSigTab_;
    QPushButton* nextButtonSigTab_;
    NewSigSheet* newSigWindow_;
};
