#include "app/DrivesListScreen.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

DrivesListScreen::DrivesListScreen(QWidget* parent)
    : WizardScreen(tr("Drives and Volumes"), QString(), parent, QStringLiteral("textFieldHeadingDriveListTab")) {
    auto* table = makeTable(QStringLiteral("tableViewDrives"), {tr("Drives")}, this);
    table->horizontalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(92);
    content()->addWidget(table, 1);
    // Shown by the wizard while the list has no row: what would fill it.
    auto* empty = makeLabel(QStringLiteral("textFieldEmptyDrivesList"),
                            tr("No drive or volume to show. To scan a disk image, attach it first with\n"
                               "    sudo losetup -fP --show image.img\n"
                               "and it appears here by itself. A drive that is there but cannot be read needs "
                               "the program started with administrator rights (its menu entry \"Start with "
                               "Administrator Rights\")."),
                            "value", this);
    empty->setWordWrap(true);
    empty->hide();
    content()->addWidget(empty);
    auto* hint = makeLabel(QString(),
                           tr("A disk image is scanned like a drive: attach it with \"losetup\" first "
                              "(see the manual)."),
                           "caption", this);
    hint->setWordWrap(true);
    content()->addWidget(hint);

    addHomeButton(QStringLiteral("buttonGoToHomeFromDrivesListTab"), 13);
    addHelpButton(QStringLiteral("buttonHelpDriveListTab"), QStringLiteral("drives"));
    addStepButton(tr("Refresh"), QStringLiteral("buttonRefreshDrivesList"));
    addStepButton(tr("Back"), QStringLiteral("backButtonInDrivesList"));
    addStepButton(tr("Next"), QStringLiteral("nextButtonInDrivesList"), true);
}
