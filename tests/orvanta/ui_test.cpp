// The rules of the tray application's windows, on the offscreen platform: enabling, the
// dialogs' length checks in CP949 bytes, duplicates, deleting and sorting the lists, finding,
// the warning text editing and the feedback prompts.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QButtonGroup>
#include <QDate>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "orvanta/core/settings.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/spam_notices.h"
#include "orvanta/ui/cp949.h"
#include "orvanta/ui/debug_window.h"
#include "orvanta/ui/client_options_page.h"
#include "orvanta/ui/program_settings_page.h"
#include "orvanta/ui/smtp_choice_dialog.h"
#include "orvanta/ui/update_page.h"
#include "orvanta/core/autostart.h"
#include "orvanta/ui/feedback_prompt.h"
#include "orvanta/ui/find_window.h"
#include "orvanta/ui/mailbox_dialog.h"
#include "orvanta/ui/online_filter_page.h"
#include "orvanta/ui/pass_filter_dialog.h"
#include "orvanta/ui/pass_filter_page.h"
#include "orvanta/ui/private_filter_dialog.h"
#include "orvanta/ui/private_filter_page.h"
#include "orvanta/ui/warning_text_page.h"
#include "harborage/harborage.h"
#include "harborage/imap_texts.h"
#include "sievelet/sievelet.h"

using namespace orvanta;
using namespace orvanta::ui;
namespace fs = std::filesystem;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList Column(QTreeWidget* list, int column)
{
    QStringList out;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        out << list->topLevelItem(row)->text(column);
    return out;
}

// Every control a user can reach by keyboard has a name a screen reader can say.
void ExpectAccessibleNames(QWidget* root)
{
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || qobject_cast<QHeaderView*>(w) || w->window() != root->window())
            continue;  // headers and the drop-downs' own pop-ups are not the page's controls
        if (qobject_cast<QLineEdit*>(w) && qobject_cast<QComboBox*>(w->parentWidget()))
            continue;  // the combo box speaks for its own line edit
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(w->metaObject()->className()));
    }
}

// Tab walks through every control of the window, so nothing needs the mouse.
void ExpectTabReachesEverything(QWidget* root)
{
    root->show();
    QSet<QWidget*> reached;
    QWidget* w = root;
    for (int i = 0; i < 500; ++i) {
        w = w->nextInFocusChain();
        if (w == root)
            break;
        reached.insert(w);
    }
    for (QWidget* c : root->findChildren<QWidget*>())
        if ((c->focusPolicy() & Qt::TabFocus) && c->isVisibleTo(root) && c->window() == root->window())
            QVERIFY2(reached.contains(c), qPrintable(c->metaObject()->className()));
    root->hide();
}

}  // namespace

// Answers every message box that comes up with Enter and keeps its text.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        m_timer.start();
    }
    QStringList texts;

private:
    QTimer m_timer;
};

// A real IMAP client (Python's imaplib) against `port`; its printed lines.
QStringList ImapClient(int port, const QString& script)
{
    QProcess python;
    python.start("python3", {"-c", "import imaplib, sys\nm = imaplib.IMAP4('127.0.0.1', " + QString::number(port) +
                                       ", timeout=20)\nm.login('user', 'pw')\n" + script + "\nm.logout()\n"});
    // The server's notifications (an APPEND's) wait for this thread's message loop meanwhile.
    QElapsedTimer clock;
    clock.start();
    int code = 0;
    while (!python.waitForFinished(10) && clock.elapsed() < 30000)
        platform::ProcessPendingMessages(&code);
    if (python.state() != QProcess::NotRunning || python.exitCode() != 0)
        qWarning() << python.readAllStandardError();
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

class UiTest : public QObject {
    Q_OBJECT

private:
    fs::path m_dir;
    std::unique_ptr<pipeline::FilterSets> m_sets;

private slots:
    void init()
    {
        ResetSettings();
        m_dir = fs::temp_directory_path() / ("orvanta-ui-" + std::to_string(getpid()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((m_dir / "config").string()));
        m_sets = std::make_unique<pipeline::FilterSets>(m_dir.string() + "/");
    }
    void cleanup()
    {
        m_sets.reset();
        fs::remove_all(m_dir);
    }

    void OnlinePageEnablingKeepsTheValuesOfWhatItDisables()
    {
        SetSetting(IntSetting::FilterContent, 1);
        OnlineFilterPage page;
        QVERIFY(page.ContentBox()->isEnabled());
        page.LevelButton(1)->click();  // basic
        QCOMPARE(GetSetting(IntSetting::FilterPriority), 1);
        QVERIFY(!page.ContentBox()->isEnabled() && !page.MesgBox()->isEnabled());
        QVERIFY(page.SenderBox()->isEnabled());
        QCOMPARE(GetSetting(IntSetting::FilterContent), 1);  // kept for the other levels
        page.UseBox()->click();
        QCOMPARE(GetSetting(IntSetting::UseOnline), 0);
        for (QWidget* w : std::initializer_list<QWidget*>{page.LevelButton(2), page.SenderBox(), page.FileNameBox()})
            QVERIFY(!w->isEnabled());
        page.UseBox()->click();
        page.LevelButton(2)->click();
        QCOMPARE(GetSetting(IntSetting::FilterPriority), 2);
        QVERIFY(page.ContentBox()->isEnabled() && page.ContentBox()->isChecked());
        // Shown again, the page reads what the settings hold now.
        SetSetting(IntSetting::FilterSubject, 0);
        page.Reload();
        QVERIFY(!page.SubjectBox()->isChecked());
        ExpectAccessibleNames(&page);
    }

    void DialogLengthsAreCountedInCp949Bytes()
    {
        const QString han = U("가");
        PrivateFilterDialog::Values v;
        v.word = han.repeated(39);  // 78 bytes
        QVERIFY(PrivateFilterDialog::Check(v).isEmpty());
        v.word = han.repeated(40);  // 80 bytes
        QCOMPARE(PrivateFilterDialog::Check(v), U("단어는 40자 까지만 입력가능합니다."));
        v.word = "";
        QCOMPARE(PrivateFilterDialog::Check(v), U("단어는 40자 까지만 입력가능합니다."));
        v.word = QString(79, 'w');
        v.folder = QString(199, 'f');
        QVERIFY(PrivateFilterDialog::Check(v).isEmpty());
        v.folder = han.repeated(100);  // 200 bytes
        QCOMPARE(PrivateFilterDialog::Check(v), U("폴더는 200자 까지만 입력가능합니다."));
        v.folder = "";
        v.description = han.repeated(12);  // 24 bytes
        QVERIFY(PrivateFilterDialog::Check(v).isEmpty());
        v.description += "x";
        QCOMPARE(PrivateFilterDialog::Check(v), U("설명은 25자 까지만 입력가능합니다."));

        QVERIFY(PassFilterDialog::Check(han.repeated(20), QString(51, 'd')).isEmpty());
        QCOMPARE(PassFilterDialog::Check(han.repeated(20) + "x", ""), U("단어는 최대 40자까지만 지원됩니다."));
        QCOMPARE(PassFilterDialog::Check("", ""), U("단어는 최대 40자까지만 지원됩니다."));
        QCOMPARE(PassFilterDialog::Check("a@b", QString(52, 'd')), U("설명은 최대 25자까지만 지원됩니다."));
    }

    void PrivateDialogFollowsItsKindAndDeleteAtOnce()
    {
        PrivateFilterDialog dialog({}, nullptr);
        QCOMPARE(dialog.KindBox()->currentIndex(), 2);
        QCOMPARE(dialog.WordLabel()->text(), U("단어"));
        dialog.KindBox()->setCurrentIndex(0);
        QCOMPARE(dialog.WordLabel()->text(), U("주소"));
        dialog.KindBox()->setCurrentIndex(6);
        QCOMPARE(dialog.WordLabel()->text(), U("파일이름"));
        dialog.DeleteAtOnceBox()->click();
        QVERIFY(!dialog.FolderField()->isEnabled() && !dialog.BrowseButton()->isEnabled());
        ExpectAccessibleNames(&dialog);
        ExpectTabReachesEverything(&dialog);

        // Enter is OK (with its check), Escape is Cancel.
        PrivateFilterDialog keyed({}, nullptr);
        keyed.show();
        QString said;
        QTimer::singleShot(0, [&] {  // the box, answered with Enter too
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                said = box->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        QTest::keyClick(&keyed, Qt::Key_Return);
        QCOMPARE(said, U("단어는 40자 까지만 입력가능합니다."));  // an empty word: the dialog stays
        QVERIFY(keyed.isVisible());
        keyed.WordField()->setText("word");
        QTest::keyClick(keyed.WordField(), Qt::Key_Return);
        QCOMPARE(keyed.result(), int(QDialog::Accepted));
        PassFilterDialog escaped("a@b", "");
        escaped.show();
        QTest::keyClick(&escaped, Qt::Key_Escape);
        QCOMPARE(escaped.result(), int(QDialog::Rejected));
        ExpectTabReachesEverything(&escaped);
    }

    void PrivatePageAddsOnceDeletesBottomUpAndSorts()
    {
        PrivateFilterPage page(*m_sets->priv, nullptr);
        auto add = [&](int kind, const char* word, bool accepted = true) {
            page.SetDialogHook([=](PrivateFilterDialog& d) {
                d.KindBox()->setCurrentIndex(kind);
                d.WordField()->setText(U(word));
                return accepted;
            });
            page.AddButton()->click();
        };
        add(2, "광고");
        add(2, "광고");          // the same word of the same kind
        add(3, "광고");          // another kind: a second rule
        add(2, "cheap", false);  // cancelled
        add(0, "bad@spam.example");
        add(2, "zebra");
        QCOMPARE(m_sets->priv->GetSize(), 4);
        QCOMPARE(Column(page.List(), PrivateFilterPage::kWord),
                 QStringList({U("광고"), U("광고"), "bad@spam.example", "zebra"}));
        QCOMPARE(page.List()->topLevelItem(0)->text(PrivateFilterPage::kFolder), U("받은 편지함"));
        QCOMPARE(std::string(m_sets->priv->GetSpamFilter(0)->folder), "INBOX");  // stored in store form
        QCOMPARE(page.List()->topLevelItem(0)->text(PrivateFilterPage::kDeleteAtOnce), "X");

        QVERIFY(!page.EditButton()->isEnabled() && !page.DeleteButton()->isEnabled());
        page.List()->topLevelItem(1)->setSelected(true);
        QVERIFY(page.EditButton()->isEnabled() && page.DeleteButton()->isEnabled());
        page.SetDialogHook([](PrivateFilterDialog& d) {
            d.DeleteAtOnceBox()->setChecked(true);
            return true;
        });
        page.EditButton()->click();
        QCOMPARE(page.List()->topLevelItem(1)->text(PrivateFilterPage::kDeleteAtOnce), "O");

        // Sorting: by kind number, by word bytes, by hits; each click turns the order round.
        m_sets->priv->GetSpamFilter(3)->hit = 7;
        page.RefreshCounts();
        page.SortBy(PrivateFilterPage::kHits);
        QCOMPARE(page.List()->topLevelItem(3)->text(PrivateFilterPage::kWord), "zebra");
        page.SortBy(PrivateFilterPage::kHits);
        QCOMPARE(page.List()->topLevelItem(0)->text(PrivateFilterPage::kWord), "zebra");
        page.SortBy(PrivateFilterPage::kKind);
        QCOMPARE(page.List()->topLevelItem(0)->text(PrivateFilterPage::kWord), "bad@spam.example");
        const QStringList before = Column(page.List(), PrivateFilterPage::kWord);
        page.SortBy(PrivateFilterPage::kFolder);  // does not sort
        QCOMPARE(Column(page.List(), PrivateFilterPage::kWord), before);

        // Three of the four selected: the one left is the one not selected.
        page.List()->clearSelection();
        for (int row : {0, 1, 3})
            page.List()->topLevelItem(row)->setSelected(true);
        const int kept = page.List()->topLevelItem(2)->data(0, FilterListPage::kFidRole).toInt();
        QVERIFY(!page.DeleteSelected(false));
        QCOMPARE(m_sets->priv->GetSize(), 4);
        QVERIFY(page.DeleteSelected(true));
        QCOMPARE(m_sets->priv->GetSize(), 1);
        QCOMPARE(m_sets->priv->GetSpamFilter(0)->fid, kept);
        QCOMPARE(page.List()->topLevelItemCount(), 1);

        page.UseBox()->click();
        QCOMPARE(GetSetting(IntSetting::UsePrivate), 0);
        QVERIFY(!page.List()->isEnabled() && !page.AddButton()->isEnabled() && !page.SearchButton()->isEnabled());
        ExpectAccessibleNames(&page);
        page.UseBox()->click();
        ExpectTabReachesEverything(&page);
    }

    void PassPageAddsOnceAndSortsByCount()
    {
        PassFilterPage page(*m_sets->pass);
        for (const char* address : {"friend@example.org", "FRIEND@example.org", "example.net"}) {
            page.SetDialogHook([=](PassFilterDialog& d) {
                d.AddressField()->setText(address);
                return true;
            });
            page.AddButton()->click();
        }
        QCOMPARE(Column(page.List(), PassFilterPage::kSender), QStringList({"friend@example.org", "example.net"}));
        m_sets->pass->GetPassFilter(1)->hit = 3;
        page.RefreshCounts();
        page.SortBy(PassFilterPage::kPasses);
        page.SortBy(PassFilterPage::kPasses);
        QCOMPARE(Column(page.List(), PassFilterPage::kPasses), QStringList({"3", "0"}));
        page.SortBy(PassFilterPage::kSender);
        QCOMPARE(Column(page.List(), PassFilterPage::kSender), QStringList({"example.net", "friend@example.org"}));
    }

    void FindWrapsAroundAndAMissKeepsTheSelection()
    {
        QTreeWidget list;
        for (const char* text : {"alpha", "beta", "alphabet", "gamma"})
            list.addTopLevelItem(new QTreeWidgetItem(QStringList(text)));
        FindWindow find(&list);
        find.Text()->setText("alpha");
        QVERIFY(find.FindNext());
        QCOMPARE(list.selectedItems().value(0)->text(0), "alpha");
        QVERIFY(find.FindNext());
        QCOMPARE(list.selectedItems().value(0)->text(0), "alphabet");
        // Nothing after "alphabet": a miss leaves the selection, and the next press starts over.
        QVERIFY(!find.FindNext());
        QCOMPARE(list.selectedItems().size(), 1);
        QCOMPARE(list.selectedItems().value(0)->text(0), "alphabet");
        QVERIFY(find.FindNext());
        QCOMPARE(list.selectedItems().value(0)->text(0), "alpha");
        find.Text()->setText("ALPHA");  // case counts
        QVERIFY(!find.FindNext());
        QCOMPARE(list.selectedItems().value(0)->text(0), "alpha");
        QVERIFY(find.Text()->maxLength() == 30);
    }

    void WarningTextEditingKeepsOnlyWhatIsFinished()
    {
        pipeline::WarningTexts() = {"one", "two", "three"};
        SetSetting(IntSetting::UseWarn, 1);
        SetSetting(IntSetting::SelectWarn, 1);
        WarningTextPage page;
        page.show();
        QCOMPARE(page.Text()->toPlainText(), "two");
        QVERIFY(page.Text()->isReadOnly() && !page.DoneButton()->isEnabled());
        page.EditButton()->click();
        QVERIFY(!page.Text()->isReadOnly() && page.DoneButton()->isEnabled() && !page.EditButton()->isEnabled());
        page.Text()->setPlainText(U("두 번째\n줄"));
        page.DoneButton()->click();
        QCOMPARE(pipeline::WarningTexts()[1], ToCp949(U("두 번째\r\n줄")));
        page.Choice()->setCurrentIndex(2);
        QCOMPARE(GetSetting(IntSetting::SelectWarn), 2);
        QCOMPARE(page.Text()->toPlainText(), "three");

        // Turned off while editing: nothing kept.
        page.EditButton()->click();
        page.Text()->setPlainText("lost");
        page.UseBox()->click();
        QCOMPARE(pipeline::WarningTexts()[2], "three");
        QVERIFY(!page.Editing() && !page.Choice()->isEnabled() && !page.EditButton()->isEnabled());

        // Hidden while editing: the last typing is undone.
        page.UseBox()->click();
        page.EditButton()->click();
        page.Text()->moveCursor(QTextCursor::End);
        QTest::keyClicks(page.Text(), "xyz");
        QVERIFY(page.Text()->toPlainText().endsWith("xyz"));
        page.hide();
        QCOMPARE(page.Text()->toPlainText(), "three");
        ExpectAccessibleNames(&page);
    }

    void MailboxDialogGuardsItsFoldersAndNamesThemForTheStore()
    {
        CIMAPFolder store(m_dir.string().c_str());
        for (std::string name : {"INBOX", "INBOX/x", "A", "A/B"})
            QVERIFY(store.CreateFolder(name.c_str()) == CIMAPFolder::FolderOk);
        QVERIFY(store.CreateFolder(CIMAPFolder::EncodeFolderName(ToCp949(U("A/스팸 편지함"))).c_str()));
        MailboxDialog dialog(m_dir.string());
        std::optional<QString> name;
        bool answer = true;
        QStringList boxes, questions;
        dialog.SetAskName([&] { return name; });
        dialog.SetAskQuestion([&](const QString& q) {
            questions << q;
            return answer;
        });
        dialog.SetShowBox([&](const QString& box) { boxes << box; });
        auto find = [&](const QString& path) -> QTreeWidgetItem* {
            for (QTreeWidgetItem* item : dialog.Tree()->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive))
                if (MailboxDialog::PathOf(item) == path)
                    return item;
            return nullptr;
        };
        auto select = [&](const QString& path) {
            QTreeWidgetItem* item = find(path);
            QVERIFY(item);
            dialog.Tree()->setCurrentItem(item);
        };
        QCOMPARE(dialog.Tree()->topLevelItem(0)->text(0), "<Orvanta>");
        QVERIFY(find(U("/받은 편지함/x")));  // the inbox in display form

        // "확인" on the root: the dialog stays open with nothing chosen.
        dialog.show();
        dialog.Confirm();
        QVERIFY(dialog.isVisible());

        // New folders: reserved names refused in any case; a Korean name under A.
        select("/A");
        name = "inbox";
        dialog.NewFolder();
        QCOMPARE(boxes.value(0), U("사용할 수 없는 이름입니다."));
        name = U("광고");
        dialog.NewFolder();
        QVERIFY(store.ExistFolder(CIMAPFolder::EncodeFolderName(ToCp949(U("A/광고"))).c_str()));
        QVERIFY(find(U("/A/광고")));

        // Renames go to the store with their exact paths, inside the inbox too.
        select("/A/B");
        name = "C";
        dialog.RenameFolder();
        QVERIFY(store.ExistFolder("A/C") && !store.ExistFolder("A/B"));
        select(U("/받은 편지함/x"));
        name = "y";
        dialog.RenameFolder();
        QVERIFY(store.ExistFolder("INBOX/y"));

        // Protected anywhere in the tree: no rename; the delete asks first, then refuses.
        boxes.clear();
        select(U("/A/스팸 편지함"));
        name = "other";
        dialog.RenameFolder();
        QCOMPARE(boxes.value(0), U("변경 할 수 없는 편지함 입니다."));
        dialog.DeleteFolder();
        QCOMPARE(questions.size(), 1);
        QCOMPARE(boxes.value(1), U("지울 수 없는 편지함 입니다."));
        select("/A/C");
        answer = false;
        dialog.DeleteFolder();
        QVERIFY(store.ExistFolder("A/C"));
        answer = true;
        dialog.DeleteFolder();
        QVERIFY(!store.ExistFolder("A/C") && !find("/A/C"));

        // Choosing: the display path without its leading "/".
        select(U("/받은 편지함/y"));
        dialog.Confirm();
        QVERIFY(!dialog.isVisible());
        ExpectAccessibleNames(&dialog);

        NameDialog names;
        names.Field()->setText(U("가").repeated(10));  // 20 bytes: fine, no box
        names.show();
        names.accept();
        QCOMPARE(names.result(), int(QDialog::Accepted));
        QCOMPARE(names.Field()->maxLength(), 20);
        NameDialog longer;
        longer.Field()->setMaxLength(40);
        longer.Field()->setText(U("가").repeated(11));  // 22 bytes
        QString said;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                said = box->text();
                box->accept();
            }
        });
        longer.show();
        longer.accept();
        QCOMPARE(said, U("폴더명을 올바르게 입력해주세요."));
        QVERIFY(longer.isVisible());
    }

    // The IMAP server's reports reach the IMAP tab only, on the window's thread, and a tab
    // keeps a bounded number of lines however many arrive from other threads.
    void DebugWindowShowsEachServersLinesInItsTab()
    {
        DebugWindow window;
        platform::HWND owner = platform::CreateWindow(
            "",
            [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) -> platform::LRESULT { return 0; });
        {
            CIMAPServer server(owner, (m_dir.string() + "/").c_str(), true, true);
            server.SetDebugListener(window.Listener(DebugTab::Imap));
            server.IMAPInit();
            QVERIFY(server.Start("localhost", 0));
            int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(static_cast<uint16_t>(server.GetBoundPort()));
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            QCOMPARE(::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
            char greeting[64] = {};
            QVERIFY(recv(s, greeting, sizeof greeting - 1, 0) > 0);
            close(s);
            QTRY_VERIFY(window.Text(DebugTab::Imap).contains(FromCp949(IMAPTEXT_CLIENT_CONNECTED)));
            QVERIFY(window.Text(DebugTab::Imap).contains(FromCp949(IMAPTEXT_STARTED)));
            server.SetDebugListener(nullptr);
            server.IMAPUnInit();
        }
        platform::DestroyWindow(owner);
        QVERIFY(window.Text(DebugTab::Pop3).isEmpty());
        QVERIFY(window.Text(DebugTab::Smtp).isEmpty());

        std::thread reporter([&] {
            for (int i = 0; i < DebugWindow::kMaxLines + 100; ++i) {
                std::string line = "+OK line " + std::to_string(i) + "\r\n";
                window.Listener(DebugTab::Pop3)->DebugMesg(line.data());
            }
        });
        reporter.join();
        QTRY_VERIFY(window.Text(DebugTab::Pop3).endsWith(U("+OK line 5099")));
        const QStringList lines = window.Text(DebugTab::Pop3).split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), DebugWindow::kMaxLines);
        QCOMPARE(lines.first(), U("+OK line 100"));
    }

    // Ports at every keystroke: 1 to 9999 stored at once, other numbers refused and the stored
    // port shown again, no number at all refused with the setting kept; "기본값" leaves POP3.
    void PortFieldsCheckEveryKeystrokeAndDefaultsKeepPop3()
    {
        SetSetting(IntSetting::Pop3Port, 2000);
        SetSetting(IntSetting::ImapPort, 1144);
        SetSetting(IntSetting::SmtpPort, 1026);
        SetSetting(IntSetting::ImapLocal, 0);
        ProgramSettingsPage page({}, "/opt/orvanta/orvanta");
        page.show();
        QLineEdit* imap = page.PortField(IntSetting::ImapPort);
        QCOMPARE(imap->text(), "1144");
        BoxAnswerer boxes;
        auto type = [&](QLineEdit* field, const char* keys) {
            field->setFocus();
            field->selectAll();
            QTest::keyClicks(field, keys);
        };
        type(imap, "0");
        QCOMPARE(boxes.texts.value(0), U("포트는 1부터 9999사이값을 넣어주세요."));
        QCOMPARE(imap->text(), "1144");
        QCOMPARE(GetSetting(IntSetting::ImapPort), 1144);
        type(imap, "9999");
        QCOMPARE(GetSetting(IntSetting::ImapPort), 9999);
        QCOMPARE(boxes.texts.size(), 1);
        type(imap, "10000");  // 1, 10, 100 and 1000 are ports; 10000 is not
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(imap->text(), "1000");
        QCOMPARE(GetSetting(IntSetting::ImapPort), 1000);
        QLineEdit* smtp = page.PortField(IntSetting::SmtpPort);
        type(smtp, "abc");  // a box at each of the three keys
        QCOMPARE(boxes.texts.mid(2), QStringList(3, U("정수를 입력하십시오.")));
        QCOMPARE(GetSetting(IntSetting::SmtpPort), 1026);
        smtp->setFocus();
        smtp->selectAll();
        QTest::keyClick(smtp, Qt::Key_Backspace);  // an empty field is no number either
        QCOMPARE(boxes.texts.size(), 6);
        QCOMPARE(GetSetting(IntSetting::SmtpPort), 1026);

        page.DefaultsButton()->click();
        QCOMPARE(GetSetting(IntSetting::Pop3Port), 2000);
        QCOMPARE(GetSetting(IntSetting::ImapPort), 144);
        QCOMPARE(GetSetting(IntSetting::SmtpPort), 26);
        QCOMPARE(GetSetting(IntSetting::ImapLocal), 1);
        QCOMPARE(imap->text(), "144");
        QVERIFY(page.LocalOnlyBox()->isChecked());
        ExpectAccessibleNames(&page);
        ExpectTabReachesEverything(&page);
    }

    // "실행" and "중지" start and stop a real IMAP server and follow its state; the log-in box
    // writes the desktop's autostart entry and removes it again.
    void RunAndStopFollowTheImapServerAndAutostartFollowsItsBox()
    {
        platform::HWND owner = platform::CreateWindow(
            "",
            [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) -> platform::LRESULT { return 0; });
        CIMAPServer server(owner, (m_dir.string() + "/").c_str(), true, true);
        server.IMAPInit();
        QVERIFY(server.Start("localhost", 0));
        ProgramSettingsPage::Servers control{[&] {
                                                 server.IMAPInit();
                                                 server.Start("localhost", 0);
                                             },
                                             [&] { server.Close(); }, [&] { return server.IsStart(); }};
        ProgramSettingsPage page(control, "/opt/my programs/orvanta");
        page.show();
        QVERIFY(!page.RunButton()->isEnabled() && page.StopButton()->isEnabled());
        page.StopButton()->click();
        QVERIFY(!server.IsStart());
        QVERIFY(page.RunButton()->isEnabled() && !page.StopButton()->isEnabled());
        page.RunButton()->click();
        QVERIFY(server.IsStart());
        QVERIFY(!page.RunButton()->isEnabled() && page.StopButton()->isEnabled());
        QCOMPARE(ImapClient(server.GetBoundPort(), "print(m.noop()[0])"), QStringList{"OK"});
        server.Close();
        platform::DestroyWindow(owner);

        const std::string entry = AutostartEntryPath();
        QVERIFY(entry.rfind(m_dir.string(), 0) == 0);  // the test's own configuration directory
        SetSetting(IntSetting::AutoStart, 0);
        page.Reload();
        page.AutoStartBox()->click();
        QCOMPARE(GetSetting(IntSetting::AutoStart), 1);
        std::ifstream in(entry);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        QVERIFY(text.find("\nExec=\"/opt/my programs/orvanta\" /start\n") != std::string::npos);
        page.AutoStartBox()->click();
        QCOMPARE(GetSetting(IntSetting::AutoStart), 0);
        QVERIFY(!fs::exists(entry));
    }

    // The client options page shows the stored answers, "3일" is Del_Term 4 from today, and
    // "바로삭제" says first what it does.
    void ClientOptionsStoreWhatIsChosen()
    {
        SetSetting(IntSetting::AutoSpam, 1);
        SetSetting(IntSetting::AutoPass, 2);
        SetSetting(IntSetting::DelTerm, 0);
        SetSetting(IntSetting::DelLog, 1);
        int linked = 0, mailbox = 0;
        ClientOptionsPage page({[&] { ++linked; }, {}, [&] { ++mailbox; }});
        page.show();
        QVERIFY(page.AutoSpam()->button(1)->isChecked() && page.AutoPass()->button(2)->isChecked());
        QVERIFY(page.KeepInfoBox()->isChecked());
        QCOMPARE(page.DeletePeriod()->count(), 12);
        QCOMPARE(page.DeletePeriod()->itemText(4), U("3일"));
        page.AutoPass()->button(0)->click();
        QCOMPARE(GetSetting(IntSetting::AutoPass), 0);
        page.LinkButton()->click();
        page.MailboxButton()->click();
        QCOMPARE(linked, 1);
        QCOMPARE(mailbox, 1);

        BoxAnswerer boxes;
        SetSetting(IntSetting::DelYear, 2001);
        page.DeletePeriod()->setFocus();
        QTest::keyClick(page.DeletePeriod(), Qt::Key_Down);  // "바로삭제"
        QCOMPARE(boxes.texts.value(0), U("스팸메일을 스팸편지함 저장하지 않고, 영구히 삭제 합니다.\r\n"));
        QCOMPARE(GetSetting(IntSetting::DelTerm), 1);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(page.DeletePeriod(), Qt::Key_Down);
        QCOMPARE(GetSetting(IntSetting::DelTerm), 4);
        const QDate today = QDate::currentDate();
        QCOMPARE(GetSetting(IntSetting::DelYear), today.year());
        QCOMPARE(GetSetting(IntSetting::DelMonth), today.month());
        QCOMPARE(GetSetting(IntSetting::DelDay), today.day());
        QCOMPARE(boxes.texts.size(), 1);

        // Shown again, the page reads what another part of the program changed meanwhile.
        page.hide();
        SetSetting(IntSetting::AutoSpam, 7);  // no such answer: none checked
        page.show();
        QVERIFY(!page.AutoSpam()->checkedButton());
        ExpectAccessibleNames(&page);
        ExpectTabReachesEverything(&page);

        UpdatePage update({"Pellix", U("둘째")}, {});
        update.SiteList()->activated(1);
        update.PeriodList()->activated(3);
        QCOMPARE(GetSetting(IntSetting::UpdateServer), 1);
        QCOMPARE(GetSetting(IntSetting::UpdateTerm), 3);
        QCOMPARE(update.PeriodList()->itemText(1), U("3일"));
        ExpectAccessibleNames(&update);
    }

    void SmtpChoiceTakesTheChosenServerOrNothing()
    {
        SmtpChoiceDialog dialog({"smtp.one.example", "smtp.two.example"});
        QCOMPARE(dialog.ServerList()->currentIndex(), 0);
        QTimer::singleShot(0, [&] {
            QTest::keyClick(dialog.ServerList(), Qt::Key_Down);
            dialog.AlwaysBox()->setChecked(true);
            QTest::keyClick(&dialog, Qt::Key_Return);
        });
        std::optional<SmtpServerChoice> chosen = dialog.Ask();
        QVERIFY(chosen && chosen->index == 1 && chosen->always);
        ExpectAccessibleNames(&dialog);
        SmtpChoiceDialog cancelled({"smtp.one.example"});
        QTimer::singleShot(0, [&] { QTest::keyClick(&cancelled, Qt::Key_Escape); });
        QVERIFY(!cancelled.Ask());
    }

    // The mailbox dialog and a real IMAP client see one store: a folder made in the dialog
    // is listed and takes an APPEND; a folder the client makes is in the tree next time.
    void MailboxDialogAndAnImapClientShareTheStore()
    {
        platform::HWND owner = platform::CreateWindow(
            "",
            [](platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) -> platform::LRESULT { return 0; });
        CIMAPServer server(owner, (m_dir.string() + "/").c_str(), true, true);
        server.IMAPInit();
        QVERIFY(server.Start("localhost", 0));
        {
            MailboxDialog dialog(m_dir.string());
            dialog.SetAskName([] { return std::optional<QString>(U("광고")); });
            dialog.Tree()->setCurrentItem(dialog.Tree()->topLevelItem(0));
            dialog.NewFolder();
        }
        const QString korean = "'&rRGs4A-'";  // "광고" in IMAP's modified UTF-7
        const QStringList seen = ImapClient(
            server.GetBoundPort(), "print(b'\"&rRGs4A-\"' in b' '.join(m.list()[1]))\n"
                                   "print(m.append(" +
                                       korean +
                                       ", None, None, b'From: a@b.example\\r\\nSubject: s\\r\\n\\r\\nbody\\r\\n')[0])\n"
                                       "print(m.status(" +
                                       korean +
                                       ", '(MESSAGES)')[1][0].decode())\n"
                                       "print(m.create('FromClient')[0])");
        QCOMPARE(seen.value(0), "True");
        QCOMPARE(seen.value(1), "OK");
        QVERIFY2(seen.value(2).contains("(MESSAGES 1 "), qPrintable(seen.join('|')));  // the server's own spacing
        QCOMPARE(seen.value(3), "OK");
        MailboxDialog again(m_dir.string());
        bool found = false;
        for (QTreeWidgetItem* item : again.Tree()->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive))
            found = found || MailboxDialog::PathOf(item) == "/FromClient";
        QVERIFY(found);
        server.Close();
        platform::DestroyWindow(owner);
    }

    void PromptsOfferTheDomainAndTurnTheQuestionOff()
    {
        FeedbackPrompt block(FeedbackPrompt::Kind::kBlock, "kim@spam.example", 60000);
        QCOMPARE(block.Choice()->count(), 2);
        QCOMPARE(block.Choice()->itemText(1), "spam.example");
        QCOMPARE(block.Choice()->currentText(), "kim@spam.example");
        FeedbackPrompt plain(FeedbackPrompt::Kind::kBlock, "no-at-sign", 60000);
        QCOMPARE(plain.Choice()->itemText(1), "no-at-sign");
        ExpectAccessibleNames(&block);
        ExpectTabReachesEverything(&block);

        // "추가함" with "앞으로 묻지 않음": the answer, and the question is off (1).
        QTimer::singleShot(0, [&] {
            block.Choice()->setCurrentIndex(1);
            block.DoNotAsk()->setChecked(true);
            block.AddButton()->click();
        });
        QCOMPARE(block.Ask(), std::optional<QString>("spam.example"));
        QCOMPARE(GetSetting(IntSetting::AutoSpam), 1);

        // "추가안함" with it: nothing, and never again (2).
        FeedbackPrompt pass(FeedbackPrompt::Kind::kPass, "friend@example.org", 60000);
        QTimer::singleShot(0, [&] {
            pass.DoNotAsk()->setChecked(true);
            pass.SkipButton()->click();
        });
        QCOMPARE(pass.Ask(), std::nullopt);
        QCOMPARE(GetSetting(IntSetting::AutoPass), 2);

        // An empty pass entry is refused and the prompt stays; left alone, it closes by itself
        // and changes no setting, even with the box checked.
        SetSetting(IntSetting::AutoPass, 0);
        FeedbackPrompt idle(FeedbackPrompt::Kind::kPass, "friend@example.org", 200);
        QTimer::singleShot(0, [&] {
            idle.Choice()->setEditText("");
            idle.DoNotAsk()->setChecked(true);
            idle.AddButton()->click();
        });
        QCOMPARE(idle.Ask(), std::nullopt);
        QCOMPARE(GetSetting(IntSetting::AutoPass), 0);
    }
};

QTEST_MAIN(UiTest)
#include "ui_test.moc"
