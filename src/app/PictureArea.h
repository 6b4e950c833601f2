#pragma once

#include <QWidget>
#include <vector>

class HoverButton;
class QLabel;

// The large picture of the home and recovery-kind screens: a picture with a
// second one laid over it, each a label of its own so that either can be
// changed alone. The overlay explains the choice the pointer is over: each
// choice button of the screen is registered with its explanation.
class PictureArea : public QWidget {
    Q_OBJECT
public:
    PictureArea(const QString& pictureName, const QString& overlayName, QWidget* parent = nullptr);

    QLabel* picture() const { return picture_; }
    QLabel* overlay() const { return overlay_; }

    void addChoice(HoverButton* button, const QString& explanation);
    // The explanation of the first choice the pointer is over, on the
    // plain picture; nothing when it is over none.
    void showHoveredChoice();
    // The choices the pointer is not over go back to their normal picture.
    void resetChoicesNotHovered();

    static constexpr int kSide = 400;

private:
    struct Choice {
        HoverButton* button;
        QString explanation;
    };
    QLabel* picture_;
    QLabel* overlay_;
    std::vector<Choice> choices_;
};
