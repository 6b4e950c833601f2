#include "app/RecoverPartitionsScreen.h"

RecoverPartitionsScreen::RecoverPartitionsScreen(QWidget* parent)
    : RecoveryKindScreen(
          QStringLiteral("imageViewRecoverPartitions"), tr("Recover Partitions & Drives"),
          tr("What happened to the drive?"),
          {QStringLiteral("buttonRecoverPartitionAndDrivesFast"), tr("Partition Recovery")},
          {QStringLiteral("buttonRecoverPartitionAndDrivesAdvanced"), tr("Formatted / Reformatted Recovery")},
          QStringLiteral("buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab"), parent) {}
