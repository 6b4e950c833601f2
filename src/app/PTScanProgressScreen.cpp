#include "app/PTScanProgressScreen.h"

#include "app/BusyIndicator.h"
#include "app/ProgressIndicator.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

PTScanProgressScreen::PTScanProgressScreen(QWidget* parent)
    : WizardScreen(tr("Searching for Lost Volumes"),
                   tr("Every sector of the disk is examined for the start of a volume. This can take a while."),
                   parent) {
    progressIndicatorScanForVolumes_ = new ProgressIndicator(this);
    progressIndicatorScanForVolumes_->setObjectName(QStringLiteral("progressIndicatorScanForVolumes"));
    content()->addWidget(progressIndicatorScanForVolumes_);

    // The texts that the search fills in start as one blank each.
    const QString blank = QStringLiteral(" ");
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    grid->addWidget(makeLabel(QString(), tr("Started:"), "caption", this), 0, 0);
    textFieldScanForVolumesStartTime_ =
        makeLabel(QStringLiteral("textFieldScanForVolumesStartTime"), blank, "value", this);
    grid->addWidget(textFieldScanForVolumesStartTime_, 0, 1);
    grid->addWidget(makeLabel(QString(), tr("Time Elapsed:"), "caption", this), 0, 2);
    textFieldScanForVolumesTimeElapsed_ =
        makeLabel(QStringLiteral("textFieldScanForVolumesTimeElapsed"), blank, "value", this);
    grid->addWidget(textFieldScanForVolumesTimeElapsed_, 0, 3);
    grid->addWidget(makeLabel(QString(), tr("Time Remaining:"), "caption", this), 1, 0);
    textFieldETAScanForVolumes_ = makeLabel(QStringLiteral("textFieldETAScanForVolumes"), blank, "value", this);
    grid->addWidget(textFieldETAScanForVolumes_, 1, 1);
    auto* subTask = new QHBoxLayout;
    subTask->setSpacing(8);
    pleaseWaitForValidatingVolumeTextField_ =
        makeLabel(QStringLiteral("pleaseWaitForValidatingVolumeTextField"), QString(), "caption", this);
    subTask->addWidget(pleaseWaitForValidatingVolumeTextField_);
    textFieldETAValidityScan_ = makeLabel(QStringLiteral("textFieldETAValidityScan"), blank, "value", this);
    subTask->addWidget(textFieldETAValidityScan_);
    progressIndicatorScanForVolumesValidityScan_ = new BusyIndicator(this);
    progressIndicatorScanForVolumesValidityScan_->setObjectName(
        QStringLiteral("progressIndicatorScanForVolumesValidityScan"));
    subTask->addWidget(progressIndicatorScanForVolumesValidityScan_);
    subTask->addStretch(1);
    grid->addLayout(subTask, 1, 2, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    content()->addLayout(grid);

    auto* found = tableViewScanForVolumes_ = new QTableWidget(0, 2, this);
    found->setObjectName(QStringLiteral("tableViewScanForVolumes"));
    found->setHorizontalHeaderLabels({tr("Found"), tr("Validity")});
    found->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    found->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    found->verticalHeader()->hide();
    found->setEditTriggers(QAbstractItemView::NoEditTriggers);
    found->setSelectionMode(QAbstractItemView::NoSelection);
    found->setShowGrid(false);
    found->setFocusPolicy(Qt::NoFocus);
    found->verticalHeader()->setDefaultSectionSize(26);
    content()->addWidget(found, 1);

    addHelpButton(QStringLiteral("buttonHelpPTScanProgTab"), QStringLiteral("lost-volumes"));
    buttonStopScanForVolumes_ = addStepButton(tr("Stop"), QStringLiteral("buttonStopScanForVolumes"));
}
