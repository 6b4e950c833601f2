#include "app/SignaturesScreen.h"

#include "app/AppImages.h"
#include "app/ColorGradientView.h"
#include "app/NewSigSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>
#include <QVBoxLayout>

SignaturesScreen::SignaturesScreen(QWidget* parent)
    : WizardScreen(tr("File Types"), tr("Mark the kinds of file to search for. Fewer types make a faster search."),
                   parent) {
    auto* findRow = new QHBoxLayout;
    findRow->setSpacing(8);
    auto* find = findFTSearchField_ = new QLineEdit(this);
    find->setObjectName(QStringLiteral("findFTSearchField"));
    find->setClearButtonEnabled(true);
    find->setFixedWidth(340);
    // The title stays in view as placeholder text, so that typing never
    // has to get rid of it first.
    find->setPlaceholderText(QStringLiteral("Find (type e.g. mp3 and press return)"));
    find->setProperty("title", find->placeholderText());
    findRow->addWidget(find);
    // The stepper walks the types found, round at either end, once a find
    // has found some.
    auto* stepper = stepperFT_ = new QSpinBox(this);
    stepper->setObjectName(QStringLiteral("stepperFT"));
    stepper->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    stepper->setEnabled(false);
    stepper->setWrapping(true);
    findRow->addWidget(stepper);
    findFTStatusTextField_ = makeLabel(QStringLiteral("findFTStatusTextField"), QStringLiteral(" "), "caption", this);
    findRow->addWidget(findFTStatusTextField_, 1);
    content()->addLayout(findRow);

    auto* outline = outlineViewSig_ = makeOutline(
        QStringLiteral("outlineViewSig"), {tr("File Types"), tr("Mark"), tr("Maximum File Size to recover")}, this);
    outline->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    outline->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    content()->addWidget(outline, 1);

    auto* counts = new QHBoxLayout;
    counts->setSpacing(18);
    for (auto [label, name] : {std::pair{&textFieldNumMarkedUnmarkedSig_, "textFieldNumMarkedUnmarkedSig"},
                               {&textFieldNumTotalSig_, "textFieldNumTotalSig"},
                               {&textFieldNumTotalSigCategories_, "textFieldNumTotalSigCategories"}}) {
        *label = makeLabel(QString::fromLatin1(name), QString(), "caption", this);
        counts->addWidget(*label);
    }
    counts->addStretch(1);
    content()->addLayout(counts);

    auto* editing = new QHBoxLayout;
    editing->setSpacing(8);
    const struct {
        const char* name;
        const char* text;
        QPushButton* SignaturesScreen::*member;
    } buttons[] = {
        {"buttonSigSelectAll", QT_TR_NOOP("Mark All"), &SignaturesScreen::buttonSigSelectAll_},
        {"buttonSigDeselectAll", QT_TR_NOOP("Unmark All"), &SignaturesScreen::buttonSigDeselectAll_},
        {"buttonSigAddFileType", QT_TR_NOOP("Add File Type..."), &SignaturesScreen::buttonSigAddFileType_},
        {"buttonSigRemoveFileType", QT_TR_NOOP("Delete File Type"), &SignaturesScreen::buttonSigRemoveFileType_},
        {"buttonSigLoadFileTypes", QT_TR_NOOP("Load File Types"), &SignaturesScreen::buttonSigLoadFileTypes_},
    };
    for (const auto& b : buttons) {
        auto* button = this->*b.member = new QPushButton(tr(b.text), this);
        button->setObjectName(QString::fromLatin1(b.name));
        editing->addWidget(button);
    }
    // Needed only when no list could be read.
    buttonSigLoadFileTypes_->setEnabled(false);
    editing->addStretch(1);
    auto* speed = new QVBoxLayout;
    speed->setSpacing(3);
    auto* speedText = makeLabel(QStringLiteral("textFieldEstimatedRecoverySpeedStatic"),
                                QStringLiteral("Estimated Recovery Speed"), "caption", this);
    QFont font = QApplication::font();
    font.setPointSize(13);
    font.setUnderline(true);
    speedText->setFont(font);
    speedText->setStyleSheet(QStringLiteral("color: black;"));
    speedText->setAlignment(Qt::AlignCenter);
    speed->addWidget(speedText);
    auto* gradient = imageViewSigSpeedGradient_ = new ColorGradientView(this);
    gradient->setObjectName(QStringLiteral("imageViewSigSpeedGradient"));
    gradient->setFixedSize(220, 14);
    gradient->setImage(AppImages::imageNamed(QStringLiteral("gradient-thick")));
    speed->addWidget(gradient);
    editing->addLayout(speed);
    content()->addLayout(editing);

    auto* range = rawSearchCheckBox_ =
        new QCheckBox(tr("Choose the part of the drive to search before the scan starts"), this);
    range->setObjectName(QStringLiteral("rawSearchCheckBox"));
    content()->addWidget(range);

    addHomeButton(QStringLiteral("buttonGoToHomeFromSignaturesTab"), 14);
    addHelpButton(QStringLiteral("buttonHelpSignaturesTab"), QStringLiteral("file-types"));
    buttonSigSelBack_ = addStepButton(tr("Back"), QStringLiteral("buttonSigSelBack"));
    skipButtonSigTab_ = addStepButton(tr("Skip"), QStringLiteral("skipButtonSigTab"));
    nextButtonSigTab_ = addStepButton(tr("Next"), QStringLiteral("nextButtonSigTab"), true);

    // Hidden until "Add File Type..." opens it over the window.
    newSigWindow_ = new NewSigSheet(this);
}

void SignaturesScreen::setFileTypeEditingShown(bool shown) {
    for (QPushButton* b : {buttonSigAddFileType_, buttonSigRemoveFileType_}) {
        b->setEnabled(shown);
        b->setHidden(!shown);
    }
}
