#include <QImage>
#include <QTest>

#include "widgets/panelstatusbar.h"

using namespace veltrano;

namespace {

// Pixel classes of a bar painted white with black text, a blue gauge and yellow gauge text.
// Anti-aliased edges blend within a pair (black/white, yellow/blue), never across pairs.
bool isBlue(QRgb p)
{
    return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60;
}
bool isDark(QRgb p)
{
    return qRed(p) < 90 && qGreen(p) < 90 && qBlue(p) < 90;
}
bool isYellow(QRgb p)
{
    return qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) < 90;
}
bool isWhite(QRgb p)
{
    return qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 240;
}

} // namespace

class TestPanelStatusBar : public QObject
{
    Q_OBJECT

    // A bar whose first panel paints 200 pixels inside its frame.
    std::unique_ptr<TPanelStatusBar> makeBar()
    {
        auto bar = std::make_unique<TPanelStatusBar>();
        QPalette palette = bar->palette();
        palette.setColor(QPalette::Window, Qt::white);
        palette.setColor(QPalette::WindowText, Qt::black);
        bar->setPalette(palette);
        QFont font = bar->font();
        font.setPixelSize(13);
        bar->setFont(font);
        TStatusPanel *gauge = bar->addPanel();
        gauge->setWidth(202);
        gauge->setPanelType(sptGauge);
        gauge->setAlignment(Qt::AlignHCenter);
        gauge->setGaugeColors(Qt::blue, Qt::yellow);
        bar->resize(bar->sizeHint());
        bar->show();
        return bar;
    }
    static QImage inner(TPanelStatusBar &bar, int panel)
    {
        return bar.grab(bar.panelRect(panel).adjusted(1, 1, -1, -1)).toImage();
    }

private slots:
    void gaugePaintsFillAndTextAcrossTheEdge_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("filledColumns");
        QTest::addColumn<bool>("yellowText");
        QTest::addColumn<bool>("darkText");
        QTest::newRow("0% empty, text dark") << 0 << 0 << false << true;
        QTest::newRow("37% text past the fill") << 37 << 74 << false << true;
        QTest::newRow("50% text split by the edge") << 50 << 100 << true << true;
        QTest::newRow("100% full, text in text colour") << 100 << 200 << true << false;
        QTest::newRow("over 100 is kept at 100") << 140 << 200 << true << false;
    }
    void gaugePaintsFillAndTextAcrossTheEdge()
    {
        QFETCH(int, position);
        QFETCH(int, filledColumns);
        QFETCH(bool, yellowText);
        QFETCH(bool, darkText);
        auto bar = makeBar();
        bar->panel(0)->setGaugePosition(position);
        const QImage image = inner(*bar, 0);
        QCOMPARE(image.width(), 200);
        // The top row is clear of the text: it shows the fill alone.
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, 0);
            QVERIFY2(x < filledColumns ? isBlue(p) : isWhite(p), qPrintable(QString::number(x)));
        }
        bool sawYellow = false, sawDark = false;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                // Each copy of the text stays on its own side of the edge.
                QVERIFY(!(x < filledColumns && isDark(p)));
                QVERIFY(!(x >= filledColumns && isYellow(p)));
                sawYellow |= isYellow(p);
                sawDark |= isDark(p);
            }
        }
        QCOMPARE(sawYellow, yellowText);
        QCOMPARE(sawDark, darkText);
    }

    void disabledPanelShowsOnlyItsBackground()
    {
        auto bar = makeBar();
        bar->panel(0)->setGaugePosition(60);
        bar->panel(0)->setEnabled(false);
        const QImage image = inner(*bar, 0);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QVERIFY(isWhite(image.pixel(x, y)));
    }

    void selfSizingPanelFollowsItsText()
    {
        auto bar = makeBar();
        TStatusPanel *fit = bar->addPanel();
        fit->setAutoFit(true);
        TStatusPanel *after = bar->addPanel();
        after->setWidth(40);
        const int shortWidth = bar->panelRect(1).width();
        const QString text = QStringLiteral("磁碟/,容量19077MB,可用空間5120MB");
        fit->setText(text);
        QVERIFY(bar->panelRect(1).width() >= bar->fontMetrics().horizontalAdvance(text) + 6);
        QVERIFY(bar->panelRect(1).width() > shortWidth);
        // The next panel moves over instead of being painted over.
        QCOMPARE(bar->panelRect(2).left(), bar->panelRect(1).right() + 1 + 2);
        bar->resize(bar->sizeHint());
        // The whole text is painted: dark pixels reach the last tenth of the panel.
        const QImage image = inner(*bar, 1);
        bool inLastTenth = false;
        for (int y = 0; y < image.height(); ++y)
            for (int x = image.width() * 9 / 10; x < image.width(); ++x)
                inLastTenth |= isDark(image.pixel(x, y));
        QVERIFY(inLastTenth);
    }
};

QTEST_MAIN(TestPanelStatusBar)
#include "tst_panelstatusbar.moc"
