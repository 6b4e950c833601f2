#pragma once

// A find field that shows its title as placeholder text while it is empty;
// when the program puts the title in as text, a click into the field
// empties it first.

#include <QLineEdit>

class ClearingSearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit ClearingSearchField(QWidget* parent = nullptr);

    void setTitleString(const QString& title) {
        title_ = title;
        setPlaceholderText(title);
    }
    const QString& titleString() const { return title_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString title_;
};
