#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "widgets/dropfilesource.h"
#include "widgets/dropfiletarget.h"

using namespace veltrano;

class TestDragDrop : public QObject
{
    Q_OBJECT

private slots:
    // What a drag of files hands out, and how the desktop's answer becomes the drag's result.
    void sourceOffersFilesAndReportsOnlyOfferedEffects_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("copied") << int(Qt::CopyAction) << int(drDropCopy);
        QTest::newRow("moved though only copy was offered") << int(Qt::MoveAction) << int(drCancel);
        QTest::newRow("nobody took it") << int(Qt::IgnoreAction) << int(drCancel);
    }
    void sourceOffersFilesAndReportsOnlyOfferedEffects()
    {
        QFETCH(int, answer);
        QFETCH(int, result);
        TDropFileSource source;
        source.Files = {QStringLiteral("\\\\PC1\\共用\\a b.txt"), QStringLiteral("/tmp/x.txt")};
        source.UrlOf = [](const QString &path) {
            return path.startsWith(QLatin1Char('/'))
                    ? QUrl::fromLocalFile(path)
                    : QUrl(QStringLiteral("smb://PC1/共用/a b.txt"));
        };
        QStringList formats;
        QList<QUrl> urls;
        Qt::DropActions offered;
        TDropFileSource::setExecutor([&](QDrag &drag, Qt::DropActions allowed) {
            formats = drag.mimeData()->formats();
            urls = drag.mimeData()->urls();
            offered = allowed;
            return Qt::DropAction(answer);
        });
        QSignalSpy dropped(&source, &TDropFileSource::OnDrop);
        QWidget from;
        QCOMPARE(int(source.Execute(&from)), result);
        TDropFileSource::setExecutor({});
        QCOMPARE(offered, Qt::DropActions(Qt::CopyAction));
        QVERIFY(formats.contains(QStringLiteral("text/uri-list")));
        QVERIFY(formats.contains(QStringLiteral("text/plain")));
        QCOMPARE(urls.size(), 2);
        QCOMPARE(urls[0].toString(QUrl::FullyEncoded),
                QStringLiteral("smb://pc1/%E5%85%B1%E7%94%A8/a%20b.txt"));
        QCOMPARE(dropped.size(), result == drDropCopy ? 1 : 0);
    }

    // Files are taken, plain text is turned away as it enters, and the drop says where and how.
    void targetTakesFilesOnly()
    {
        QWidget window;
        window.resize(200, 200);
        TDropFileTarget target;
        target.Dragtypes = dtCopy;
        target.Register(&window);
        QVERIFY(window.acceptDrops());
        QSignalSpy drops(&target, &TDropFileTarget::OnDrop);

        QMimeData text;
        text.setText(QStringLiteral("/tmp/a.txt"));
        QDragEnterEvent enterText(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &enterText);
        QVERIFY(!enterText.isAccepted());

        QMimeData files;
        const QString chinese = QStringLiteral("/tmp/報告 1.txt");
        files.setUrls({QUrl::fromLocalFile(chinese), QUrl(QStringLiteral("smb://PC1/s/b.txt"))});
        QDragEnterEvent enter(
                QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(
                QPointF(40, 60), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, {});
        QApplication::sendEvent(&window, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drops.size(), 1);
        QCOMPARE(drops[0][0].value<TDragType>(), dtCopy);
        QCOMPARE(drops[0][1].toPoint(), QPoint(40, 60));
        // Host names come back in lower case, as URLs write them.
        QCOMPARE(target.Files(), QStringList({chinese, QStringLiteral("smb://pc1/s/b.txt")}));

        QCOMPARE(TDropFileTarget::effectFor(
                         Qt::ShiftModifier | Qt::ControlModifier, dtCopy | dtLink),
                int(dtLink));
        QCOMPARE(TDropFileTarget::effectFor(Qt::ShiftModifier, dtCopy | dtMove), int(dtMove));
        QCOMPARE(TDropFileTarget::effectFor(Qt::ShiftModifier, dtCopy), int(dtCopy));
        target.Unregister();
        QVERIFY(!window.acceptDrops());
    }
};

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
