#pragma once

#include <QWidget>

class HoverButton;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The frame shared by the screens after the recovery-kind choice: a heading
// with a line under it, the screen's own content, and a footer with the home
// and help buttons on the left and the screen's steps (Back, Next, Stop ...)
// on the right. Every screen looks alike and puts its steps in one place.
class WizardScreen : public QWidget {
    Q_OBJECT
public:
    // The subtitle label gets subtitleName as object name when the program
    // rewrites it (the drives list's heading).
    WizardScreen(const QString& title, const QString& subtitle, QWidget* parent = nullptr,
                 const QString& subtitleName = QString());

    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    // The footer's home and help buttons; null on a screen without one.
    HoverButton* homeButton() const { return home_; }
    HoverButton* helpButton() const { return help_; }

    // A label with an object name and a look ("caption", "value", "status",
    // "heading", "count"), shared by all screens and sheets.
    static QLabel* makeLabel(const QString& objectName, const QString& text, const char* role,
                             QWidget* parent = nullptr);

    // A list or an outline with its column headings; the rows come from
    // the model that the list's owner installs.
    static class QTableView* makeTable(const QString& objectName, const QStringList& columns, QWidget* parent);
    static class QTreeView* makeOutline(const QString& objectName, const QStringList& columns, QWidget* parent);

signals:
    // The screen's help button was pressed: the manual at that section.
    void helpRequested(const QString& manualSection);

protected:
    QVBoxLayout* content() const { return content_; }
    // The home button carries the number of its screen (13 to 19).
    HoverButton* addHomeButton(const QString& objectName, int buttonID);
    HoverButton* addHelpButton(const QString& objectName, const QString& manualSection);
    // Footer buttons on the right, in the order added; the primary one is
    // the step forward and is drawn in the accent colour.
    QPushButton* addStepButton(const QString& text, const QString& objectName, bool primary = false);
    QHBoxLayout* footerLeft() const { return footerLeft_; }

private:
    QLabel* title_;
    QLabel* subtitle_;
    QVBoxLayout* content_;
    QHBoxLayout* footerLeft_;
    QHBoxLayout* footerRight_;
    HoverButton* home_ = nullptr;
    HoverButton* help_ = nullptr;
};
