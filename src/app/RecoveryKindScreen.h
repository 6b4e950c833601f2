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
    // A choice with its pair of pictures ("<pictures>-normal", "-hover"),
    // its screen group and the explanation it shows when pointed at.
    struct Choice {
        QString objectName;
        QString title;
        QString pictures;
        int buttonID;
        QString explanation;
    };
    // The button back home explains the kind itself, which is also what the
    // screen shows first.
    struct Back {
        QString objectName;
        int buttonID;
        QString kindExplanation;
    };
    RecoveryKindScreen(const QString& pictureName, const QString& heading, const QString& question, const Choice& fast,
                       const Choice& advanced, const Back& back, QWidget* parent = nullptr);

    PictureArea* pictureArea() const { return pictureArea_; }
    // The fast and the advanced choice, and the button back home.
    HoverButton* fastButton() const { return fast_; }
    HoverButton* advancedButton() const { return advanced_; }
    HoverButton* backButton() const { return back_; }

private:
    PictureArea* pictureArea_;
    HoverButton* fast_ = nullptr;
    HoverButton* advanced_ = nullptr;
    HoverButton* back_;
};
