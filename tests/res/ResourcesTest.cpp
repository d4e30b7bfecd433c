#include "Resources.h"

#include <QImage>
#include <QRect>
#include <QSet>
#include <QTest>

namespace {

QImage argb(const QPixmap& p)
{
    return p.toImage().convertToFormat(QImage::Format_ARGB32);
}

QSet<QRgb> colours(const QImage& img)
{
    QSet<QRgb> set;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            QRgb c = img.pixel(x, y);
            set.insert(qAlpha(c) == 0 ? 0u : c);
        }
    }
    return set;
}

// The smallest rectangle holding every pixel that is not transparent.
QRect drawing(const QImage& img)
{
    QRect r;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (qAlpha(img.pixel(x, y)) != 0) {
                r |= QRect(x, y, 1, 1);
            }
        }
    }
    return r;
}

bool isRed(QRgb c)
{
    return qAlpha(c) != 0 && qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 90;
}

// Red pixels of img, counting only those where mask is drawn when a mask is given.
int redPixels(const QImage& img, const QImage& mask = {})
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (mask.isNull() || qAlpha(mask.pixel(x, y)) != 0) {
                n += isRed(img.pixel(x, y)) ? 1 : 0;
            }
        }
    }
    return n;
}

} // namespace

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void picture_data();
    void picture();
    void appIconHasBothSizes();
    void framesAreDistinct();
    void framesOutsideTheAnimationAreNull();
    void wavesTravelOnlyWhileSearching();
    void buttonDrawingFitsTheButton_data();
    void buttonDrawingFitsTheButton();
};

void ResourcesTest::picture_data()
{
    QTest::addColumn<QPixmap>("pixmap");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("maxColours");

    QTest::newRow("app icon 32") << res::appIcon32() << QSize(32, 32) << 16;
    QTest::newRow("app icon 16") << res::appIcon().pixmap(16, 16) << QSize(16, 16) << 16;
    QTest::newRow("card") << res::cardPicture() << QSize(32, 32) << 16;
    for (int i = 0; i < 12; ++i) {
        QTest::addRow("frame %d", i)
            << res::animationFrame(i) << QSize(64, 32) << (i <= 8 ? 8 : 16);
    }
    QTest::newRow("back") << res::backIcon().pixmap(32, 32) << QSize(32, 32) << 16;
    QTest::newRow("forward") << res::forwardIcon().pixmap(32, 32) << QSize(32, 32) << 16;
    QTest::newRow("refresh") << res::refreshIcon().pixmap(32, 32) << QSize(32, 32) << 16;
}

// Loads at its size, keeps to its palette (the transparent colour counted in) and has a
// transparent surround with hard edges, so the window behind shows through cleanly.
void ResourcesTest::picture()
{
    QFETCH(QPixmap, pixmap);
    QFETCH(QSize, size);
    QFETCH(int, maxColours);

    QVERIFY(!pixmap.isNull());
    QCOMPARE(pixmap.size(), size);
    const QImage img = argb(pixmap);
    const QSet<QRgb> set = colours(img);
    QVERIFY2(set.size() <= maxColours, qPrintable(QString::number(set.size())));
    QVERIFY(set.contains(0u));
    QVERIFY(set.size() > 2);
    for (QRgb c : set) {
        QVERIFY(qAlpha(c) == 0 || qAlpha(c) == 255);
    }
}

void ResourcesTest::appIconHasBothSizes()
{
    const QList<QSize> sizes = res::appIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));
}

void ResourcesTest::framesAreDistinct()
{
    QList<QImage> frames;
    for (int i = 0; i < 12; ++i) {
        frames.append(argb(res::animationFrame(i)));
    }
    for (int i = 0; i < 12; ++i) {
        for (int j = i + 1; j < 12; ++j) {
            QVERIFY2(frames[i] != frames[j], qPrintable(QStringLiteral("%1 = %2").arg(i).arg(j)));
        }
    }
}

void ResourcesTest::framesOutsideTheAnimationAreNull()
{
    QVERIFY(res::animationFrame(-1).isNull());
    QVERIFY(res::animationFrame(12).isNull());
}

// The resting frame shows the computer alone in the right half; every later frame carries
// red waves, and nothing red is ever drawn on the computer itself.
void ResourcesTest::wavesTravelOnlyWhileSearching()
{
    const QImage rest = argb(res::animationFrame(0));
    QCOMPARE(redPixels(rest), 0);
    QVERIFY(drawing(rest).left() >= 32);
    for (int i = 1; i < 12; ++i) {
        const QImage img = argb(res::animationFrame(i));
        QVERIFY2(redPixels(img) > 0, qPrintable(QString::number(i)));
        QCOMPARE(redPixels(img, rest), 0);
    }
}

void ResourcesTest::buttonDrawingFitsTheButton_data()
{
    QTest::addColumn<QIcon>("icon");
    QTest::newRow("back") << res::backIcon();
    QTest::newRow("forward") << res::forwardIcon();
    QTest::newRow("refresh") << res::refreshIcon();
}

// The button is 25 px square, so the drawing must stay within 16 x 15 in the middle.
void ResourcesTest::buttonDrawingFitsTheButton()
{
    QFETCH(QIcon, icon);
    const QRect r = drawing(argb(icon.pixmap(32, 32)));
    QVERIFY(r.width() <= 16);
    QVERIFY(r.height() <= 15);
    QVERIFY(qAbs(r.left() + r.right() - 31) <= 1);
    QVERIFY(qAbs(r.top() + r.bottom() - 31) <= 1);
}

QTEST_MAIN(ResourcesTest)
#include "ResourcesTest.moc"
