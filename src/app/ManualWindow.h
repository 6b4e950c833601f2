#pragma once

#include <QWidget>

class QTextBrowser;
class QUrl;

// The manual in a window of the program, for when no browser can show it:
// running as root, where a browser would run with root's rights if it
// started at all, or without a desktop session to hand the file to.
class ManualWindow : public QWidget {
    Q_OBJECT
public:
    explicit ManualWindow(QWidget* parent = nullptr);

    // Shows the manual file, scrolled to the section the address names.
    void showManual(const QUrl& url);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};
