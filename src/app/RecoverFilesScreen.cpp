#include "app/RecoverFilesScreen.h"

RecoverFilesScreen::RecoverFilesScreen(QWidget* parent)
    : RecoveryKindScreen(QStringLiteral("imageViewRecoverFiles"), tr("Recover Files"),
                         tr("How thoroughly should the drive be searched?"),
                         {QStringLiteral("buttonRecoverFilesFast"), tr("Fast File Recovery")},
                         {QStringLiteral("buttonRecoverFilesAdvanced"), tr("Advanced File Recovery")},
                         QStringLiteral("buttonBackToMainScreenFromFileRecoveryTab"), parent) {}
