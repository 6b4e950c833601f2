#include "app/RecoverPartitionsScreen.h"

RecoverPartitionsScreen::RecoverPartitionsScreen(QWidget* parent)
    : RecoveryKindScreen(QStringLiteral("imageViewRecoverPartitions"), tr("Recover Partitions & Drives"),
                         tr("What happened to the drive?"),
                         {QStringLiteral("buttonRecoverPartitionAndDrivesFast"), tr("Partition Recovery"),
                          QStringLiteral("pr"), 10, QStringLiteral("Partition_Recovery_hover")},
                         {QStringLiteral("buttonRecoverPartitionAndDrivesAdvanced"),
                          tr("Formatted / Reformatted Recovery"), QStringLiteral("frr"), 11,
                          QStringLiteral("Formatted_Reformatted_Recovery_hover")},
                         {QStringLiteral("buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab"), 12,
                          QStringLiteral("Recover_Partition_Drives_hover")},
                         parent) {}
