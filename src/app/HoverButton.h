#pragma once

#include <QPixmap>
#include <QPushButton>

// A picture button of the wizard screens: it shows its hover picture while
// the pointer is over it and its normal picture otherwise, keeps a second
// pair of pictures for an alternate state, and carries the number of the
// screen group whose explanatory picture it changes (1 to 12: the home and
// recovery-kind screens; 13 to 19: home buttons; 0: help buttons).
// Without a picture it draws as an ordinary button with its title.
class HoverButton : public QPushButton {
    Q_OBJECT
public:
    explicit HoverButton(const QString& title = QString(), QWidget* parent = nullptr);

    int buttonID() const { return buttonID_; }
    void setButtonID(int id) { buttonID_ = id; }

    // The screens' set-up: the pair of pictures "<prefix>-normal" and
    // "<prefix>-hover" with the normal one shown, the screen group, and
    // whether leaving puts the normal picture back.
    void setUpPictures(const QString& prefix, int buttonID, bool resetWhenNotHovering);
    // Stores the first pair; leaving the button then puts the normal picture
    // back. The shown picture does not change here.
    void setImageNormal(const QPixmap& normal, const QPixmap& hover);
    // Stores the pair used in the alternate state.
    void setAlternateImageNormal(const QPixmap& normal, const QPixmap& hover);
    void setResetImageWhenNotHovering(bool reset) { resetImageWhenNotHovering_ = reset; }
    bool resetImageWhenNotHovering() const { return resetImageWhenNotHovering_; }
    bool hovering() const { return hovering_; }
    bool alternateImagesState() const { return alternateImagesState_; }
    // Chooses the pair; the shown picture changes at the next entry or exit.
    void setAlternateImagesState(bool alternate) { alternateImagesState_ = alternate; }

    // The picture on show (null: the button draws its title).
    void setImage(const QPixmap& image);
    QPixmap image() const { return image_; }
    QPixmap normalImage() const { return normalImage_; }
    QPixmap hoverImage() const { return hoverImage_; }

    void mouseEntered(QEvent* event = nullptr);
    void mouseExited(QEvent* event = nullptr);
    // Back to the not-hovered state, exactly as when the pointer leaves.
    void resetButton();
    // After a move or a resize the pointer may be over the button (or no
    // longer) without having moved: bring the hover state up to date.
    void updateTrackingAreas();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    int buttonID_ = 0;
    QPixmap normalImage_, hoverImage_;
    QPixmap normalAlternateImage_, hoverAlternateImage_;
    QPixmap image_;
    bool hovering_ = false;
    bool resetImageWhenNotHovering_ = false;
    bool alternateImagesState_ = false;
};
