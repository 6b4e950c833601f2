#include "app/AboutPanel.h"

#include "app/AppImages.h"
#include "app/WizardScreen.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutPanel::AboutPanel(const QString& version, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("windowAboutPanel"));
    setWindowTitle(tr("About Drentic Deleted File Recovery"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 20);
    layout->setSpacing(8);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imageViewAboutIcon"));
    icon->setPixmap(AppImages::imageNamed(QStringLiteral("AppIcon")));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    auto* name = WizardScreen::makeLabel(QString(), tr("Drentic Deleted File Recovery"), "screenTitle", this);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto* versionLabel = WizardScreen::makeLabel(QStringLiteral("textFieldAboutVersion"), tr("Version %1").arg(version),
                                                 "caption", this);
    versionLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(versionLabel);
    auto* text = WizardScreen::makeLabel(
        QString(),
        tr("Finds deleted and lost files, photos and partitions on disks, volumes and disk images, and copies them "
           "to another drive. The drive being scanned is only ever read, never written."),
        "caption", this);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    layout->addSpacing(6);
    layout->addWidget(text);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addSpacing(6);
    layout->addWidget(box);
    setFixedWidth(400);
}
