#include <stdexcept>

#include <QTest>
#include <QTimer>

#include "widgets/msgbox.h"
#include "window/application.h"

using namespace veltrano;

namespace {

// A receiver whose handler fails the way code below the window fails: with an exception.
class Failing : public QObject
{
public:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw std::runtime_error("檔名過長");
        return QObject::event(event);
    }
};

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void aFailureThatNoHandlerCaughtIsShownAndTheLoopGoesOn()
    {
        std::vector<MsgBoxRequest> boxes;
        const MsgBoxPresenter previous = setMsgBoxPresenter([&](const MsgBoxRequest &request) {
            boxes.push_back(request);
            return kIdOk;
        });
        Failing receiver;
        QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        QTRY_COMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].kind, mkError);
        QCOMPARE(boxes[0].text, std::string("檔名過長"));
        bool later = false;
        QTimer::singleShot(0, &receiver, [&] {
            later = true;
        });
        QTRY_VERIFY(later);
        setMsgBoxPresenter(previous);
    }
};

int main(int argc, char **argv)
{
    // The program's own application object, not the one the test macros would make.
    TApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
