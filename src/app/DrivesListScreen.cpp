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
