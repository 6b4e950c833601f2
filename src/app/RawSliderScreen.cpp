#include "app/RawSliderScreen.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

RawSliderScreen::RawSliderScreen(QWidget* parent)
    : WizardScreen(tr("Search Range"),
                   tr("Searching only a part of a large drive saves time. Move the sliders to choose where the "
                      "search starts and where it ends."),
                   parent) {
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(makeLabel(QString(), tr("Size of the drive or volume:"), "caption", this));
    sizeRow->addWidget(makeLabel(QStringLiteral("textFieldSizeOfRawScanDrvVol"), QString(), "value", this));
    sizeRow->addStretch(1);
    content()->addSpacing(8);
    content()->addLayout(sizeRow);
    content()->addSpacing(16);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(18);
    const struct {
        const char* caption;
        const char* slider;
        const char* status;
        int value;
    } rows[] = {
        {QT_TR_NOOP("Start"), "sliderStart", "textFieldStartSliderStatus", 0},
        {QT_TR_NOOP("End"), "sliderEnd", "textFieldEndSliderStatus", kSliderSteps},
    };
    int r = 0;
    for (const auto& row : rows) {
        grid->addWidget(makeLabel(QString(), tr(row.caption), "heading", this), r, 0);
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QString::fromLatin1(row.slider));
        slider->setRange(0, kSliderSteps);
        slider->setValue(row.value);
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setTickInterval(kSliderSteps / 10);
        grid->addWidget(slider, r, 1);
        auto* status = makeLabel(QString::fromLatin1(row.status), QString(), "value", this);
        status->setMinimumWidth(150);
        grid->addWidget(status, r, 2);
        ++r;
    }
    grid->setColumnStretch(1, 1);
    content()->addLayout(grid);
    content()->addStretch(1);

    addHomeButton(QStringLiteral("buttonGoToHomeFromRawSliderTab"), 15);
    addHelpButton(QStringLiteral("buttonHelpRawSliderTab"), QStringLiteral("range"));
    addStepButton(tr("Back"), QStringLiteral("buttonRawSliderBack"));
    addStepButton(tr("Start Scan"), QStringLiteral("buttonRawSliderNext"), true);
}
