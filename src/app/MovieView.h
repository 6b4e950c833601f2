#pragma once

#include <QImage>
#include <QWidget>

class QVideoSink;

// The preview's movie view: draws the frames a player hands to its sink,
// scaled to fit and centred on black. It paints into the window itself
// rather than through a native video window, so it works the same on every
// display, the offscreen one of the tests included.
class MovieView : public QWidget {
    Q_OBJECT
public:
    explicit MovieView(QWidget* parent = nullptr);

    // What a player is given as its video output.
    QVideoSink* videoSink() const { return sink_; }
    // Forgets the frame shown.
    void clear();
    // The frame shown, null when none.
    const QImage& currentFrame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVideoSink* sink_;
    QImage frame_;
};
