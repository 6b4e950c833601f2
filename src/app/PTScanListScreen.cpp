#include "app/PTScanListScreen.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

PTScanListScreen::PTScanListScreen(QWidget* parent)
    : WizardScreen(tr("Volumes Found"), tr("Select the volume to recover from. More stars: more of it is intact."),
                   parent) {
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(makeLabel(QString(), tr("Volumes found:"), "caption", this));
    textFieldNumFoundVolumes_ = makeLabel(QStringLiteral("textFieldNumFoundVolumes"), QString(), "value", this);
    countRow->addWidget(textFieldNumFoundVolumes_);
    countRow->addStretch(1);
    content()->addLayout(countRow);
    tableViewScanPTList_ = makeTable(QStringLiteral("tableViewScanPTList"), {tr("Drives")}, this);
    tableViewScanPTList_->horizontalHeader()->hide();
    tableViewScanPTList_->verticalHeader()->setDefaultSectionSize(110);
    content()->addWidget(tableViewScanPTList_, 1);
    textFieldEmptyPTScanList_ =
        makeLabel(QStringLiteral("textFieldEmptyPTScanList"),
                  tr("No lost volume was found on this disk. Go back to choose a partition, or start "
                     "again from the start page with another kind of recovery."),
                  "value", this);
    textFieldEmptyPTScanList_->setWordWrap(true);
    textFieldEmptyPTScanList_->hide();
    content()->addWidget(textFieldEmptyPTScanList_);

    addHomeButton(QStringLiteral("buttonGoToHomeFromPTScanListTab"), 18);
    addHelpButton(QStringLiteral("buttonHelpPTScanListTab"), QStringLiteral("lost-volumes"));
    buttonPTScanListBack_ = addStepButton(tr("Back"), QStringLiteral("buttonPTScanListBack"));
    buttonPTScanListNext_ = addStepButton(tr("Next"), QStringLiteral("buttonPTScanListNext"), true);
}

void PTScanListScreen::showAgain(std::size_t volumesFound) {
    textFieldNumFoundVolumes_->setText(QString::number(volumesFound));
    tableViewScanPTList_->clearSelection();
}
