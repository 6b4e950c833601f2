#pragma once

#include <QDialog>

// The about panel: the program's name, version and what it is for.
class AboutPanel : public QDialog {
    Q_OBJECT
public:
    explicit AboutPanel(const QString& version, QWidget* parent = nullptr);
};
