#pragma once

// A find field that shows its title as text until the user types: a click
// into the field while it still shows the title empties it first.

#include <QLineEdit>

class ClearingSearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit ClearingSearchField(QWidget* parent = nullptr);

    void setTitleString(const QString& title) { title_ = title; }
    const QString& titleString() const { return title_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString title_;
};
