#include "app/RecoverFilesScreen.h"

RecoverFilesScreen::RecoverFilesScreen(QWidget* parent)
    : RecoveryKindScreen(
          QStringLiteral("imageViewRecoverFiles"), tr("Recover Files"),
          tr("How thoroughly should the drive be searched?"),
          {QStringLiteral("buttonRecoverFilesFast"), tr("Fast File Recovery"), QStringLiteral("ffr"), 4,
           QStringLiteral("Fast_File_Recovery_hover")},
          {QStringLiteral("buttonRecoverFilesAdvanced"), tr("Advanced File Recovery"), QStringLiteral("afr"), 5,
           QStringLiteral("Advanced_File_Recovery_hover")},
          {QStringLiteral("buttonBackToMainScreenFromFileRecoveryTab"), 6, QStringLiteral("Recover_File_hover")},
          parent) {}
