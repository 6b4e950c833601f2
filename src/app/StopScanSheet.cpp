#include "app/StopScanSheet.h"

#include <QHBoxLayout>
#include <QPushButton>

StopScanSheet::StopScanSheet(QWidget* parent)
    : SheetWindow(QStringLiteral("alertWindowForAbort"), tr("Stop the scan?"),
                  tr("What has been found so far will be shown, and you can recover it. The scan can not be "
                     "continued afterwards."),
                  parent),
      continue_(new QPushButton(tr("Continue Scanning"), this)), stop_(new QPushButton(tr("Stop"), this)) {
    continue_->setObjectName(QStringLiteral("buttonDontAbortTreeThread"));
    stop_->setObjectName(QStringLiteral("buttonAbortTreeThread"));
    stop_->setProperty("primary", true);
    continue_->setDefault(true);
    buttons()->addWidget(continue_);
    buttons()->addWidget(stop_);
}
