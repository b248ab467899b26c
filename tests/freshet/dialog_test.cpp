// The updater's window on the offscreen platform, with the real work behind it fetching a slow
// file from a real web server: the title, the bars, the button's two roles and the question.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <atomic>

#include "freshet/texts.h"
#include "freshet/updater.h"
#include "freshet/updater_dialog.h"
#include "platform/codepage.h"
#include "test_support.h"

using freshet::Bar;
using freshet_test::Scratch;
using freshet_test::Spit;
using freshet_test::WebServer;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// What the next message box said.
struct BoxAnswer {
    QString title, text;
    bool seen = false;
};

// Presses `button` of the next message box that comes up within 10 s. The watch belongs to
// `owner`, so it ends with it at the latest.
void AnswerNextBox(QObject* owner, QMessageBox::StandardButton button, BoxAnswer* answer)
{
    auto* timer = new QTimer(owner);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, button, answer, ticks = 0]() mutable {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box || ++ticks > 500) {
            timer->stop();
            timer->deleteLater();
        }
        if (box) {
            answer->title = box->windowTitle();
            answer->text = box->text();
            answer->seen = true;
            box->button(button)->click();
        }
    });
    timer->start();
}

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

private slots:
    void buttonAsksWhileRunningAndClosesWhenOver()
    {
        Scratch scratch;
        WebServer server(scratch.www, scratch.path / "server.log");
        QVERIFY(server.ready());
        scratch.Set("ORVANTA_WEB_URL", server.Url(""));
        // 8 MB in 16 KiB pieces 20 ms apart: the work runs for seconds.
        const int size = 8 * 1024 * 1024;
        Spit(scratch.www / "big.bin", std::string(size, 'b'));
        Spit(scratch.www / "orvanta/jsp/login/CheckUpdate.jsp", "update " + server.Url("/base") + "\n");
        Spit(scratch.www / "base/express/update.dat", "update 5\nx big.bin 1.0\n");
        Spit(scratch.home / "user/update.lst",
             platform::Utf8ToCp949("\"느린 서버\" \"") + server.Url("/slow") + "\"\n");

        std::atomic<int> starts{0};
        freshet::UpdaterDialog dialog;
        freshet::Updater updater(dialog, freshet::FreshetPaths{scratch.home, scratch.path, scratch.home},
                                 [&] { ++starts; });
        dialog.Attach(&updater);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), U("Orvanta Updater - 느린 서버"));
        QCOMPARE(dialog.Button()->text(), U("취소"));

        // The bars show the download: one file, its size in hundreds of bytes.
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ProgressBar(Bar::kFile)->value() > 0, 10000);
        QVERIFY(dialog.ProgressBar(Bar::kOverall)->isVisible());
        QVERIFY(dialog.ProgressBar(Bar::kFile)->isVisible());
        QCOMPARE(dialog.ProgressBar(Bar::kOverall)->maximum(), 1);
        QCOMPARE(dialog.ProgressBar(Bar::kOverall)->value(), 1);
        QCOMPARE(dialog.ProgressBar(Bar::kFile)->maximum(), size / 100);
        QCOMPARE(dialog.StatusLine()->text(), U("big.bin 을 가져오고 있습니다."));
        QVERIFY(dialog.StatusLine()->isReadOnly());

        // While it runs the button asks; Cancel leaves everything as it was.
        BoxAnswer question;
        AnswerNextBox(&dialog, QMessageBox::Cancel, &question);
        dialog.Button()->click();
        QVERIFY(question.seen);
        QCOMPARE(question.title, U("주의"));
        QCOMPARE(question.text, U("업데이트를 취소하시겠습니까?"));
        QVERIFY(!updater.Cancelled());
        QCOMPARE(starts.load(), 0);
        QVERIFY(updater.Running());
        QVERIFY(dialog.isVisible());

        // OK cancels and starts the main program, but the window waits for the work.
        BoxAnswer again;
        AnswerNextBox(&dialog, QMessageBox::Ok, &again);
        dialog.Button()->click();
        QVERIFY(again.seen);
        QVERIFY(updater.Cancelled());
        QCOMPARE(starts.load(), 1);
        QVERIFY(dialog.isVisible());

        // The work notices between pieces and says so in a message box of its own.
        BoxAnswer cancelled;
        AnswerNextBox(&dialog, QMessageBox::Ok, &cancelled);
        QTRY_VERIFY_WITH_TIMEOUT(cancelled.seen, 10000);
        QCOMPARE(cancelled.text, U("업데이트를 취소하셨습니다."));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.Button()->text(), U("확인"), 10000);
        QVERIFY(!updater.Running());
        QVERIFY(dialog.ProgressBar(Bar::kFile)->value() < size / 100);

        // Once over, the button asks nothing, starts the main program again and closes.
        BoxAnswer none;
        AnswerNextBox(&dialog, QMessageBox::Ok, &none);
        dialog.Button()->click();
        QCOMPARE(starts.load(), 2);
        QVERIFY(!dialog.isVisible());
        QTest::qWait(100);
        QVERIFY(!none.seen);
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
