#include "app/RecoverPhotosScreen.h"

RecoverPhotosScreen::RecoverPhotosScreen(QWidget* parent)
    : RecoveryKindScreen(QStringLiteral("imageViewRecoverPhotos"), tr("Recover Photos"),
                         tr("How thoroughly should the drive be searched?"),
                         {QStringLiteral("buttonRecoverPhotosFast"), tr("Fast Photo Recovery")},
                         {QStringLiteral("buttonRecoverPhotosAdvanced"), tr("Advanced Photo Recovery")},
                         QStringLiteral("buttonBackToMainScreenFromPhotoRecoveryTab"), parent) {}
