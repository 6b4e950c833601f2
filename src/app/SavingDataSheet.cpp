#include "app/SavingDataSheet.h"

#include "app/ProgressIndicator.h"
#include "app/WizardScreen.h"
#include "results/DataSaving.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

SavingDataSheet::SavingDataSheet(QWidget* parent)
    : SheetWindow(QStringLiteral("windowSavingData"), tr("Saving Marked Files"),
                  tr("The marked files and folders are being written to the destination folder."), parent) {
    auto* bar = progressTree_ = new ProgressIndicator(this);
    bar->setObjectName(QStringLiteral("progressTree"));
    body()->addWidget(bar);
    auto* grid = new QGridLayout;
    textFieldSavedData_ =
        WizardScreen::makeLabel(QStringLiteral("textFieldSavedData"), QStringLiteral(" "), "value", this);
    grid->addWidget(textFieldSavedData_, 0, 0);
    grid->addWidget(WizardScreen::makeLabel(QString(), tr("Time Elapsed:"), "caption", this), 0, 1, Qt::AlignRight);
    grid->addWidget(WizardScreen::makeLabel(QStringLiteral("textFieldSavingTimeElapsed"), QString(), "value", this), 0,
                    2);
    grid->setColumnStretch(0, 1);
    body()->addLayout(grid);
    auto* stop = stopSaveButton_ = new QPushButton(tr("Stop Saving"), this);
    stop->setObjectName(QStringLiteral("stopSaveButton"));
    stop->setToolTip(QStringLiteral("Abort Saving Files"));
    buttons()->addWidget(stop);
    firstMessage_ = messageLabel()->text();
    // As wide as ever, and as tall as the longest message needs, which the
    // second pass shows: a press aimed at Stop Saving in the first pass finds
    // it at the same place in the second.
    const QMargins margins = layout()->contentsMargins();
    messageLabel()->setFixedWidth(minimumWidth() - margins.left() - margins.right());
    messageLabel()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    messageLabel()->ensurePolished();
    keepRoomForEveryMessage();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void SavingDataSheet::keepRoomForEveryMessage() {
    QLabel* message = messageLabel();
    int room = 0;
    for (const QString& text : {QString::fromUtf8(DataSaving::kSecondPassMessage), firstMessage_}) {
        message->setText(text);
        room = std::max(room, message->heightForWidth(message->minimumWidth()));
    }
    message->setMinimumHeight(room);
}

void SavingDataSheet::showEvent(QShowEvent* event) {
    // Measured again in the font the sheet is shown in; each save begins
    // with the first pass's message.
    keepRoomForEveryMessage();
    SheetWindow::showEvent(event);
}
