#pragma once

#include <QDialog>

// Shown when the chosen device can not be opened for reading: how to start
// the program with the rights that reading a raw device needs.
class PermissionPanel : public QDialog {
    Q_OBJECT
public:
    explicit PermissionPanel(QWidget* parent = nullptr);
};
