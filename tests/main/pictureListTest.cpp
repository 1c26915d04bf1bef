#include "main/pictureList.h"

#include "common/opUninstallRegistry.h"
#include "support/tempMachine.h"

#include <filesystem>
#include <QtTest>

// The toolkit's image list: one picture size, pictures appended and found by index.
class TPictureListTest : public QObject {
    Q_OBJECT

private slots:
    void iconPicturesKeepTheirColours();
    void picturesOfAnotherSizeAreScaled();
    void emptyPicturesAreNotAdded();
    void anIndexWithoutAPictureGivesAnEmptyPicture();
    void theRegistryOperationsFillIt();
};

void TPictureListTest::iconPicturesKeepTheirColours() {
    TPictureList list(2, 2);
    platform::TIconImage icon{2, 2, {0xFF0082CB, 0x80FF0000, 0x00000000, 0xFF00FF00}};
    QCOMPARE(list.Add(icon), 0);
    QCOMPARE(list.Add(icon), 1);
    QCOMPARE(list.Count(), 2);
    const QImage picture = list.Picture(1).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(picture.pixel(0, 0), 0xFF0082CBu);
    QCOMPARE(qAlpha(picture.pixel(1, 0)), 0x80);
    QCOMPARE(qAlpha(picture.pixel(0, 1)), 0);
    QCOMPARE(picture.pixel(1, 1), 0xFF00FF00u);
}

void TPictureListTest::picturesOfAnotherSizeAreScaled() {
    TPictureList list(32, 32);
    QPixmap small(16, 16);
    small.fill(Qt::red);
    QCOMPARE(list.Add(small), 0);
    QCOMPARE(list.Picture(0).size(), QSize(32, 32));
    QCOMPARE(list.Add(platform::TIconImage{1, 1, {0xFFFFFFFF}}), 1);
    QCOMPARE(list.Picture(1).size(), QSize(32, 32));
}

void TPictureListTest::emptyPicturesAreNotAdded() {
    TPictureList list(16, 16);
    QCOMPARE(list.Add(platform::TIconImage{}), -1);
    QCOMPARE(list.Add(platform::TIconImage{4, 4, {1, 2}}), -1); // fewer pixels than its size
    QCOMPARE(list.Add(QPixmap()), -1);
    QCOMPARE(list.Count(), 0);
}

void TPictureListTest::anIndexWithoutAPictureGivesAnEmptyPicture() {
    TPictureList list(32, 32);
    for (int index : {-1, 0, 5}) {
        const QImage picture = list.Picture(index).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(picture.size(), QSize(32, 32));
        QCOMPARE(qAlpha(picture.pixel(16, 16)), 0);
    }
}

void TPictureListTest::theRegistryOperationsFillIt() {
    TTempMachine machine;
    std::filesystem::copy_file(KORVANE_PROGRAM_ICON, machine.HostPath("C:\\korvane.ico"));
    TPictureList small(16, 16), large(32, 32);
    TURegistryOp registry;
    QCOMPARE(registry.AddIconToLists(small, large, "C:\\korvane.ico", 0), 0);
    QCOMPARE(small.Count(), 1);
    QCOMPARE(large.Count(), 1);
    QVERIFY(qAlpha(large.Picture(0).toImage().pixel(16, 16)) > 0);
    QCOMPARE(registry.AddIconToLists(small, large, "C:\\missing.ico", 0), -1);
    QCOMPARE(large.Count(), 1);
}

QTEST_MAIN(TPictureListTest)
#include "pictureListTest.moc"
