#include "app/MainScreen.h"

#include "app/AppImages.h"
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
    // The welcome picture until a choice is pointed at.
    pictureArea_->picture()->setPixmap(AppImages::imageNamed(QStringLiteral("wizard")));

    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    column->addStretch(1);
    column->addWidget(WizardScreen::makeLabel(QString(), tr("Drentic Deleted File Recovery"), "screenTitle", this));
    auto* question = WizardScreen::makeLabel(QString(), tr("What would you like to recover?"), "screenSubtitle", this);
    column->addWidget(question);
    column->addSpacing(14);
    // Each choice keeps its hover picture when the pointer leaves it, until
    // another choice is pointed at.
    const struct {
        const char* name;
        const char* title;
        const char* pictures;
        int buttonID;
        const char* explanation;
        HoverButton* MainScreen::*member;
    } buttons[] = {
        {"buttonRecoverFiles", QT_TR_NOOP("Recover Files"), "rf", 1, "Recover_File_hover",
         &MainScreen::buttonRecoverFiles_},
        {"buttonRecoverPhotos", QT_TR_NOOP("Recover Photos"), "rp", 2, "Recover_Photos_hover",
         &MainScreen::buttonRecoverPhotos_},
        {"buttonRecoverPartitionAndDrives", QT_TR_NOOP("Recover Partitions & Drives"), "rpd", 3,
         "Recover_Partition_Drives_hover", &MainScreen::buttonRecoverPartitionAndDrives_},
    };
    for (const auto& b : buttons) {
        auto* button = this->*b.member = new HoverButton(tr(b.title), this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setUpPictures(QString::fromLatin1(b.pictures), b.buttonID, false);
        pictureArea_->addChoice(button, QString::fromLatin1(b.explanation));
        column->addWidget(button, 0, Qt::AlignLeft);
    }
    column->addStretch(2);
    row->addLayout(column, 1);
}
