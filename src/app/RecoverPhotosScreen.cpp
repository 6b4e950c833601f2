#include "app/RecoverPhotosScreen.h"

RecoverPhotosScreen::RecoverPhotosScreen(QWidget* parent)
    : RecoveryKindScreen(
          QStringLiteral("imageViewRecoverPhotos"), tr("Recover Photos"),
          tr("How thoroughly should the drive be searched?"),
          {QStringLiteral("buttonRecoverPhotosFast"), tr("Fast Photo Recovery"), QStringLiteral("fpr"), 7,
           QStringLiteral("Fast_Photo_Recovery_hover")},
          {QStringLiteral("buttonRecoverPhotosAdvanced"), tr("Advanced Photo Recovery"), QStringLiteral("apr"), 8,
           QStringLiteral("Advanced_Photo_Recovery_hover")},
          {QStringLiteral("buttonBackToMainScreenFromPhotoRecoveryTab"), 9, QStringLiteral("Recover_Photos_hover")},
          parent) {}
