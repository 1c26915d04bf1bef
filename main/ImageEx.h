#pragma once

#include <functional>
#include <QLabel>

class QObject;

// The picture control of the main window's image buttons: it shows one picture and tells its owner when the
// pointer enters or leaves it, so that the owner can swap between a normal and a hover picture.
class TImageEx : public QLabel {
    Q_OBJECT
public:
    // A callback that receives the sender, empty by default.
    using TNotifyEvent = std::function<void(QObject* sender)>;

    explicit TImageEx(QWidget* parent = nullptr);

    TNotifyEvent OnMouseLeave;
    TNotifyEvent OnMouseEnter;

signals:
    // A left-button press and release over the control.
    void Click();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void CMMouseEnter();
    void CMMouseLeave();

    bool FPressed = false;
};
