#include "app/ProgressSheet.h"

#include "app/ProgressIndicator.h"

#include <QVBoxLayout>

ProgressSheet::ProgressSheet(const QString& objectName, const QString& heading, const QString& message,
                             const QString& indicatorName, QWidget* parent)
    : SheetWindow(objectName, heading, message, parent), indicator_(new ProgressIndicator(this)) {
    indicator_->setObjectName(indicatorName);
    indicator_->setIndeterminate(true);
    body()->addWidget(indicator_);
}
