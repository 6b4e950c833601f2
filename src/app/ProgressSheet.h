#pragma once

#include "app/SheetWindow.h"

class ProgressIndicator;

// A sheet with a message and a moving bar, shown while the program is busy
// with something the user has to wait for (loading the drive list, preparing
// or freeing the found-file list, writing or reading a session).
class ProgressSheet : public SheetWindow {
    Q_OBJECT
public:
    ProgressSheet(const QString& objectName, const QString& heading, const QString& message,
                  const QString& indicatorName, QWidget* parent = nullptr);

    ProgressIndicator* indicator() const { return indicator_; }

private:
    ProgressIndicator* indicator_;
};
