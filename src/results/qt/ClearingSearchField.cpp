#include "results/qt/ClearingSearchField.h"

ClearingSearchField::ClearingSearchField(QWidget* parent) : QLineEdit(parent) {
    // Focus comes from a click, never from moving through the window.
    setFocusPolicy(Qt::ClickFocus);
}

void ClearingSearchField::mousePressEvent(QMouseEvent* event) {
    // The program may give the title as a property before the field knows it.
    const QString title = title_.isEmpty() ? property("title").toString() : title_;
    if (!title.isEmpty() && text() == title) clear();
    QLineEdit::mousePressEvent(event);
}
