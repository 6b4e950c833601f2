#include "app/DrivesListScreen.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

DrivesListScreen::DrivesListScreen(QWidget* parent)
    : WizardScreen(tr("Drives and Volumes"), QString(), parent, QStringLiteral("textFieldHeadingDriveListTab")) {
    tableViewDrives_ = makeTable(QStringLiteral("tableViewDrives"), {tr("Drives")}, this);
    tableViewDrives_->horizontalHeader()->hide();
    tableViewDrives_->verticalHeader()->setDefaultSectionSize(92);
    content()->addWidget(tableViewDrives_, 1);
    // Shown by the wizard while the list has no row: what would fill it.
    textFieldEmptyDrivesList_ =
        makeLabel(QStringLiteral("textFieldEmptyDrivesList"),
                  tr("No drive or volume to show. To scan a disk image, attach it first with\n"
                     "    sudo losetup -fP --show image.img\n"
                     "and it appears here by itself. A drive that is there but cannot be read needs "
                     "the program started with administrator rights (its menu entry \"Start with "
                     "Administrator Rights\")."),
                  "value", this);
    textFieldEmptyDrivesList_->setWordWrap(true);
    textFieldEmptyDrivesList_->hide();
    content()->addWidget(textFieldEmptyDrivesList_);
    auto* hint = makeLabel(QString(),
                           tr("A disk image is scanned like a drive: attach it with \"losetup\" first "
                              "(see the manual)."),
                           "caption", this);
    hint->setWordWrap(true);
    content()->addWidget(hint);

    addHomeButton(QStringLiteral("buttonGoToHomeFromDrivesListTab"), 13);
    addHelpButton(QStringLiteral("buttonHelpDriveListTab"), QStringLiteral("drives"));
    buttonRefreshDrivesList_ = addStepButton(tr("Refresh"), QStringLiteral("buttonRefreshDrivesList"));
    backButtonInDrivesList_ = addStepButton(tr("Back"), QStringLiteral("backButtonInDrivesList"));
    nextButtonInDrivesList_ = addStepButton(tr("Next"), QStringLiteral("nextButtonInDrivesList"), true);
}

void DrivesListScreen::showHeading(int drvOrVolOrBoth) {
    static const char* const headings[] = {"Please select volume to continue...", "Please select disk to continue...",
                                           "Please select disk / volume to continue..."};
    if (drvOrVolOrBoth >= 0 && drvOrVolOrBoth <= 2)
        textFieldHeadingDriveListTab()->setText(QString::fromLatin1(headings[drvOrVolOrBoth]));
}
