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
    HoverButton* buttonRecoverFiles() const { return buttonRecoverFiles_; }
    HoverButton* buttonRecoverPhotos() const { return buttonRecoverPhotos_; }
    HoverButton* buttonRecoverPartitionAndDrives() const { return buttonRecoverPartitionAndDrives_; }

private:
    PictureArea* pictureArea_;
    HoverButton* buttonRecoverFiles_ = nullptr;
    HoverButton* buttonRecoverPhotos_ = nullptr;
    HoverButton* buttonRecoverPartitionAndDrives_ = nullptr;
};
