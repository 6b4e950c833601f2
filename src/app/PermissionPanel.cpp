#include "app/PermissionPanel.h"

#include "app/WizardScreen.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

PermissionPanel::PermissionPanel(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("windowSIPPanel"));
    setWindowTitle(tr("Permission Needed"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 22, 28, 18);
    layout->setSpacing(10);
    auto add = [&](const char* name, const QString& text, const char* role) {
        auto* label = WizardScreen::makeLabel(QString::fromLatin1(name), text, role, this);
        label->setWordWrap(true);
        layout->addWidget(label);
        return label;
    };
    add("sipHeading",
        tr("In order to recover your lost data, the program has to read the drive directly, and this needs "
           "more rights than a user normally has."),
        "heading");
    add("sipMidHeading", tr("Do one of the following, then start the program again."), "caption");
    add("textStep1",
        tr("1. Start it with administrator rights, from its menu entry's \"Start with Administrator Rights\" "
           "or with:\n    pkexec drentic-recovery"),
        "value");
    add("textStep2",
        tr("2. Or add yourself to the group that may read disks, then log in again:\n"
           "    sudo usermod -aG disk $USER"),
        "value");
    add("textStep3",
        tr("3. For a disk image, attach it first (the program only reads it):\n    sudo losetup -fP --show image.img"),
        "value");
    add("sipFooterText1", tr("Make a note of the steps for your reference."), "caption");
    add("sipFooterEmail", tr("The manual (Help menu) explains each step."), "caption");
    auto* email = add("sipEmail", QString(), "caption");
    email->hide();
    auto* box = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(box);
    setFixedWidth(480);
}
