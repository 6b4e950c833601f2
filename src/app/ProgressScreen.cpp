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
    auto* bar = new ProgressIndicator(this);
    bar->setObjectName(QStringLiteral("progress"));
    barRow->addWidget(bar, 1);
    auto* spinner = new BusyIndicator(this);
    spinner->setObjectName(QStringLiteral("scanningProgressIndicator"));
    barRow->addWidget(spinner);
    content()->addLayout(barRow);

    auto* under = new QHBoxLayout;
    under->addWidget(makeLabel(QStringLiteral("textFieldPercentDone"), blank, "value", this));
    under->addStretch(1);
    under->addWidget(makeLabel(QString(), tr("Time Remaining:"), "caption", this));
    under->addWidget(makeLabel(QStringLiteral("timeRemainingTextFieldForTree"), blank, "value", this));
    content()->addLayout(under);
    content()->addWidget(makeLabel(QStringLiteral("textFieldSizeDone"), blank, "caption", this));
    content()->addSpacing(10);

    // What has been found, as four tiles.
    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(12);
    const struct {
        const char* caption;
        const char* field;
    } counts[] = {
        {QT_TR_NOOP("Entries Found"), "textFieldEntries"},
        {QT_TR_NOOP("Folders"), "textFieldFolders"},
        {QT_TR_NOOP("Files"), "textFieldFiles"},
        {QT_TR_NOOP("Data"), "textFieldData"},
    };
    for (const auto& c : counts) {
        auto* tile = new QFrame(this);
        tile->setProperty("role", "tile");
        auto* tileLayout = new QVBoxLayout(tile);
        tileLayout->setContentsMargins(14, 10, 14, 10);
        tileLayout->setSpacing(2);
        tileLayout->addWidget(makeLabel(QString(), tr(c.caption), "caption", tile));
        tileLayout->addWidget(makeLabel(QString::fromLatin1(c.field), QString(), "count", tile));
        tiles->addWidget(tile, 1);
    }
    content()->addLayout(tiles);
    content()->addSpacing(10);

    auto* times = new QGridLayout;
    times->setHorizontalSpacing(12);
    times->addWidget(makeLabel(QString(), tr("Started:"), "caption", this), 0, 0);
    times->addWidget(makeLabel(QStringLiteral("textFieldScanStartTime"), blank, "value", this), 0, 1);
    times->addWidget(makeLabel(QString(), tr("Time Elapsed:"), "caption", this), 1, 0);
    times->addWidget(makeLabel(QStringLiteral("textFieldScanTimeElapsed"), blank, "value", this), 1, 1);
    times->setColumnStretch(1, 1);
    content()->addLayout(times);
    content()->addStretch(1);

    addHelpButton(QStringLiteral("buttonHelpProgressTab"), QStringLiteral("progress"));
    addStepButton(tr("Stop"), QStringLiteral("buttonStopScan"));
}
