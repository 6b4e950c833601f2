#pragma once

#include <QWidget>

class QLabel;

// The large picture of the home and recovery-kind screens: a picture with a
// second one laid over it, each a label of its own so that either can be
// changed alone (the overlay explains the choice the pointer is over).
class PictureArea : public QWidget {
    Q_OBJECT
public:
    PictureArea(const QString& pictureName, const QString& overlayName, QWidget* parent = nullptr);

    QLabel* picture() const { return picture_; }
    QLabel* overlay() const { return overlay_; }

    static constexpr int kSide = 400;

private:
    QLabel* picture_;
    QLabel* overlay_;
};
