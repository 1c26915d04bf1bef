#include "main/ImageEx.h"

#include <QtTest>

// The picture button: enter and leave callbacks, and a click for a left press and release over it.
class TImageExTest : public QObject {
    Q_OBJECT

private slots:
    void enterAndLeaveCallTheirCallbacksWithTheControl();
    void aClickIsALeftPressAndReleaseOverAnEnabledControl();
};

void TImageExTest::enterAndLeaveCallTheirCallbacksWithTheControl() {
    QWidget parent;
    TImageEx image(&parent);
    std::vector<std::pair<std::string, QObject*>> calls;
    image.OnMouseEnter = [&](QObject* sender) { calls.emplace_back("enter", sender); };
    image.OnMouseLeave = [&](QObject* sender) { calls.emplace_back("leave", sender); };
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&image, &enter);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&image, &leave);
    QCOMPARE(calls.size(), size_t{2});
    QCOMPARE(calls[0], (std::pair<std::string, QObject*>("enter", &image)));
    QCOMPARE(calls[1], (std::pair<std::string, QObject*>("leave", &image)));
    // Without callbacks it is a plain picture control.
    image.OnMouseEnter = nullptr;
    image.OnMouseLeave = nullptr;
    QCoreApplication::sendEvent(&image, &enter);
    QCoreApplication::sendEvent(&image, &leave);
    QCOMPARE(calls.size(), size_t{2});
}

void TImageExTest::aClickIsALeftPressAndReleaseOverAnEnabledControl() {
    TImageEx image;
    image.resize(90, 91);
    QSignalSpy clicks(&image, &TImageEx::Click);
    QTest::mouseClick(&image, Qt::LeftButton, {}, QPoint(45, 45));
    QCOMPARE(clicks.count(), 1);
    QTest::mouseClick(&image, Qt::RightButton, {}, QPoint(45, 45));
    QCOMPARE(clicks.count(), 1);
    // Released outside: no click.
    QTest::mousePress(&image, Qt::LeftButton, {}, QPoint(45, 45));
    QTest::mouseRelease(&image, Qt::LeftButton, {}, QPoint(200, 45));
    QCOMPARE(clicks.count(), 1);
    image.setEnabled(false);
    QTest::mouseClick(&image, Qt::LeftButton, {}, QPoint(45, 45));
    QCOMPARE(clicks.count(), 1);
}

QTEST_MAIN(TImageExTest)
#include "ImageExTest.moc"
