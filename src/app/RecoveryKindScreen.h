#pragma once

#include <QWidget>

class HoverButton;
class PictureArea;

// The frame of the three recovery-kind screens: a fast and an advanced
// choice and a button back to the home screen, beside the explaining
// picture of the kind.
class RecoveryKindScreen : public QWidget {
    Q_OBJECT
public:
    struct Choice {
        QString objectName;
        QString title;
    };
    RecoveryKindScreen(const QString& pictureName, const QString& heading, const QString& question, const Choice& fast,
                       const Choice& advanced, const QString& backName, QWidget* parent = nullptr);

    PictureArea* pictureArea() const { return pictureArea_; }

private:
    PictureArea* pictureArea_;
};
