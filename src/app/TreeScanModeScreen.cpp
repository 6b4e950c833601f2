#include "app/TreeScanModeScreen.h"

#include "app/AppImages.h"

#include <QCommandLinkButton>
#include <QIcon>
#include <QPushButton>
#include <QVBoxLayout>

TreeScanModeScreen::TreeScanModeScreen(QWidget* parent)
    : WizardScreen(tr("Scan Mode"), tr("Choose how the folders and files of the volume are rebuilt."), parent) {
    auto* standard = new QCommandLinkButton(tr("Standard Scan"),
                                            tr("Reads the volume's catalog as it stands. Quick; use it first."), this);
    standard->setObjectName(QStringLiteral("buttonTreeScanModeStd"));
    buttonTreeScanModeStd_ = standard;
    auto* advanced = new QCommandLinkButton(
        tr("Advanced Scan"),
        tr("Searches the whole volume for fragments of its catalog. Slower; use it when the standard scan finds "
           "too little or refuses the volume."),
        this);
    advanced->setObjectName(QStringLiteral("buttonTreeScanModeAdv"));
    buttonTreeScanModeAdv_ = advanced;
    standard->setIcon(QIcon(AppImages::imageNamed(QStringLiteral("standard-scan"))));
    advanced->setIcon(QIcon(AppImages::imageNamed(QStringLiteral("advanced-scan"))));
    for (QCommandLinkButton* b : {standard, advanced})
        b->setIconSize(QSize(32, 32));
    content()->addSpacing(12);
    content()->addWidget(standard);
    content()->addWidget(advanced);
    content()->addStretch(1);

    addHomeButton(QStringLiteral("buttonGoToHomeFromTreeScanModeTab"), 19);
    addHelpButton(QStringLiteral("buttonHelpTreeScanModeTab"), QStringLiteral("scan-mode"));
    buttonTreeScanModeBack_ = addStepButton(tr("Back"), QStringLiteral("buttonTreeScanModeBack"));
}
