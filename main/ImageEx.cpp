#include "main/ImageEx.h"

#include <QMouseEvent>

TImageEx::TImageEx(QWidget* parent) : QLabel(parent) {}

// The inherited handling comes first: the label passes the notification on as any control does; then the
// owner's callback, when one is assigned.
void TImageEx::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    CMMouseEnter();
}

void TImageEx::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    CMMouseLeave();
}

void TImageEx::CMMouseEnter() {
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TImageEx::CMMouseLeave() {
    if (OnMouseLeave)
        OnMouseLeave(this);
}

void TImageEx::mousePressEvent(QMouseEvent* event) {
    FPressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void TImageEx::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked =
        FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    FPressed = false;
    QLabel::mouseReleaseEvent(event);
    if (clicked && isEnabled())
        emit Click();
}
