#include "app/ProgressScreen.h"

#include "app/BusyIndicator.h"
#include "app/ProgressIndicator.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ProgressScreen::ProgressScreen(QWidget* parent)
    : WizardScreen(tr("Scanning"), QString(), parent, QStringLiteral("textFieldStatus")) {
    subtitleLabel()->setProperty("role", "status");
    // The texts that a scan fills in start as one blank each.
    const QString blank = QStringLiteral(" ");
    subtitleLabel()->setText(blank);
    content()->addWidget(makeLabel(QStringLiteral("textFieldMainScanStatus"), blank, "caption", this));

    auto* barRow = new QHBoxLayout;
    barRow->setSpacing(10);
    progress_ = new ProgressIndicator(this);
    progress_->setObjectName(QStringLiteral("progress"));
    barRow->addWidget(progress_, 1);
    scanningProgressIndicator_ = new BusyIndicator(this);
    scanningProgressIndicator_->setObjectName(QStringLiteral("scanningProgressIndicator"));
    barRow->addWidget(scanningProgressIndicator_);
    content()->addLayout(barRow);

    auto* under = new QHBoxLayout;
    textFieldPercentDone_ = makeLabel(QStringLiteral("textFieldPercentDone"), blank, "value", this);
    under->addWidget(textFieldPercentDone_);
    under->addStretch(1);
    under->addWidget(makeLabel(QString(), tr("Time Remaining:"), "caption", this));
    timeRemainingTextFieldForTree_ = makeLabel(QStringLiteral("timeRemainingTextFieldForTree"), blank, "value", this);
    under->addWidget(timeRemainingTextFieldForTree_);
    content()->addLayout(under);
    textFieldSizeDone_ = makeLabel(QStringLiteral("textFieldSizeDone"), blank, "caption", this);
    content()->addWidget(textFieldSizeDone_);
    content()->addSpacing(10);

    // What has been found, as four tiles.
    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(12);
    const struct {
        const char* caption;
        const char* field;
        QLabel* ProgressScreen::*member;
    } counts[] = {
        {QT_TR_NOOP("Entries Found"), "textFieldEntries", &ProgressScreen::textFieldEntries_},
        {QT_TR_NOOP("Folders"), "textFieldFolders", &ProgressScreen::textFieldFolders_},
        {QT_TR_NOOP("Files"), "textFieldFiles", &ProgressScreen::textFieldFiles_},
        {QT_TR_NOOP("Data"), "textFieldData", &ProgressScreen::textFieldData_},
    };
    for (const auto& c : counts) {
        auto* tile = new QFrame(this);
        tile->setProperty("role", "tile");
        auto* tileLayout = new QVBoxLayout(tile);
        tileLayout->setContentsMargins(14, 10, 14, 10);
        tileLayout->setSpacing(2);
        tileLayout->addWidget(makeLabel(QString(), tr(c.caption), "caption", tile));
        this->*c.member = makeLabel(QString::fromLatin1(c.field), QString(), "count", tile);
        tileLayout->addWidget(this->*c.member);
        tiles->addWidget(tile, 1);
    }
    content()->addLayout(tiles);
    content()->addSpacing(10);

    auto* times = new QGridLayout;
    times->setHorizontalSpacing(12);
    times->addWidget(makeLabel(QString(), tr("Started:"), "caption", this), 0, 0);
    textFieldScanStartTime_ = makeLabel(QStringLiteral("textFieldScanStartTime"), blank, "value", this);
    times->addWidget(textFieldScanStartTime_, 0, 1);
    times->addWidget(makeLabel(QString(), tr("Time Elapsed:"), "caption", this), 1, 0);
    textFieldScanTimeElapsed_ = makeLabel(QStringLiteral("textFieldScanTimeElapsed"), blank, "value", this);
    times->addWidget(textFieldScanTimeElapsed_, 1, 1);
    times->setColumnStretch(1, 1);
    content()->addLayout(times);
    content()->addStretch(1);

    addHelpButton(QStringLiteral("buttonHelpProgressTab"), QStringLiteral("progress"));
    buttonStopScan_ = addStepButton(tr("Stop"), QStringLiteral("buttonStopScan"));
}
