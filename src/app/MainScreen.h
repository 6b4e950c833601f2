#pragma once

#include <QWidget>

class HoverButton;
class PictureArea;

// "Main Screen", the home screen: the three kinds of recovery, beside a
// picture that explains the one the pointer is over.
class MainScreen : public QWidget {
    Q_OBJECT
public:
    explicit MainScreen(QWidget* parent = nullptr);

    PictureArea* pictureArea() const { return pictureArea_; }

private:
    PictureArea* pictureArea_;
};
