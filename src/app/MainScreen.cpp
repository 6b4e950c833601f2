#include "app/MainScreen.h"

#include "app/HoverButton.h"
#include "app/PictureArea.h"
#include "app/WizardScreen.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

MainScreen::MainScreen(QWidget* parent)
    : QWidget(parent), pictureArea_(new PictureArea(QStringLiteral("imageViewMainScreen"),
                                                    QStringLiteral("imageViewMainScreenImposed"), this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(32, 28, 32, 28);
    row->setSpacing(36);
    row->addWidget(pictureArea_, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    column->addStretch(1);
    column->addWidget(WizardScreen::makeLabel(QString(), tr("Drentic Deleted File Recovery"), "screenTitle", this));
    auto* question = WizardScreen::makeLabel(QString(), tr("What would you like to recover?"), "screenSubtitle", this);
    column->addWidget(question);
    column->addSpacing(14);
    const struct {
        const char* name;
        const char* title;
    } buttons[] = {
        {"buttonRecoverFiles", QT_TR_NOOP("Recover Files")},
        {"buttonRecoverPhotos", QT_TR_NOOP("Recover Photos")},
        {"buttonRecoverPartitionAndDrives", QT_TR_NOOP("Recover Partitions & Drives")},
    };
    for (const auto& b : buttons) {
        auto* button = new HoverButton(tr(b.title), this);
        button->setObjectName(QString::fromLatin1(b.name));
        column->addWidget(button, 0, Qt::AlignLeft);
    }
    column->addStretch(2);
    row->addLayout(column, 1);
}
