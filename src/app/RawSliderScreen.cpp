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
    textFieldSizeOfRawScanDrvVol_ = makeLabel(QStringLiteral("textFieldSizeOfRawScanDrvVol"), QString(), "value", this);
    sizeRow->addWidget(textFieldSizeOfRawScanDrvVol_);
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
        QSlider* RawSliderScreen::*sliderMember;
        QLabel* RawSliderScreen::*statusMember;
    } rows[] = {
        {QT_TR_NOOP("Start"), "sliderStart", "textFieldStartSliderStatus", 0, &RawSliderScreen::sliderStart_,
         &RawSliderScreen::textFieldStartSliderStatus_},
        {QT_TR_NOOP("End"), "sliderEnd", "textFieldEndSliderStatus", kSliderSteps, &RawSliderScreen::sliderEnd_,
         &RawSliderScreen::textFieldEndSliderStatus_},
    };
    int r = 0;
    for (const auto& row : rows) {
        grid->addWidget(makeLabel(QString(), tr(row.caption), "heading", this), r, 0);
        auto* slider = this->*row.sliderMember = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QString::fromLatin1(row.slider));
        slider->setRange(0, kSliderSteps);
        slider->setValue(row.value);
        slider->setTickPosition(QSlider::TicksBelow);
        slider->setTickInterval(kSliderSteps / 10);
        grid->addWidget(slider, r, 1);
        auto* status = this->*row.statusMember = makeLabel(QString::fromLatin1(row.status), QString(), "value", this);
        status->setMinimumWidth(150);
        grid->addWidget(status, r, 2);
        ++r;
    }
    grid->setColumnStretch(1, 1);
    content()->addLayout(grid);
    content()->addStretch(1);

    addHomeButton(QStringLiteral("buttonGoToHomeFromRawSliderTab"), 15);
    addHelpButton(QStringLiteral("buttonHelpRawSliderTab"), QStringLiteral("range"));
    buttonRawSliderBack_ = addStepButton(tr("Back"), QStringLiteral("buttonRawSliderBack"));
    buttonRawSliderNext_ = addStepButton(tr("Start Scan"), QStringLiteral("buttonRawSliderNext"), true);
}
