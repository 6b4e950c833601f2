#pragma once

// The marked share of all file types as a bar: the picture shows over the
// marked share from the left, and the rest of the bar is covered.

#include <QPixmap>
#include <QWidget>

class ColorGradientView : public QWidget {
    Q_OBJECT
public:
    explicit ColorGradientView(QWidget* parent = nullptr);

    void setImage(const QPixmap& image);
    void setNumMarkedSig(int marked, int total);
    int numMarkedSig() const { return numMarkedSig_; }
    int numTotalSig() const { return numTotalSig_; }
    // Where the covered part starts, in pixels from the left edge.
    int markedWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap image_;
    int numMarkedSig_ = 0;
    int numTotalSig_ = 228;
};
