// The uninstaller's window on the offscreen platform, with the real work behind it: its title,
// texts, buttons and icon; OK restores the accounts and starts the removal, Cancel, Esc and
// the close box change nothing.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "components/accountkeys/account_keys.h"
#include "unmoor/removal.h"
#include "unmoor/uninstall_dialog.h"
#include "unmoor/uninstaller.h"

namespace fs = std::filesystem;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A registry, a program directory and a removal recorder of the test's own.
class Scratch {
public:
    Scratch()
    {
        char tmpl[] = "/tmp/unmoor-dialog-XXXXXX";
        path = mkdtemp(tmpl);
        record = path / "removals";
        setenv("ORVANTA_REGISTRY", (path / "registry.db").c_str(), 1);
        setenv(unmoor::kRemoveCommandVariable, ("echo started >> '" + record.string() + "'").c_str(), 1);
        // A linked account and the spam box.
        Account("00000001", {{"POP3 USER Name", "kim#mailhost#110"},
                             {"POP3 Server", "localhost"},
                             {"POP3 BACKUP", "mailhost"},
                             {"POP3 USER BACKUP", "kim"}});
        Account("00002002", {{"ORVANTA ACCOUNT", "Orvanta"}, {"ACCOUNT NAME", "<Orvanta>"}});
    }
    ~Scratch()
    {
        unsetenv(unmoor::kRemoveCommandVariable);
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    static void Account(const std::string& key, const std::map<std::string, std::string>& texts)
    {
        accountkeys::Key k;
        std::string name = std::string(accountkeys::kAccountsKey) + "\\" + key;
        QCOMPARE(platform::RegCreateKeyEx(platform::HKEY_CURRENT_USER, name.c_str(), k.out()), platform::ERROR_SUCCESS);
        for (const auto& [value, text] : texts)
            QVERIFY(accountkeys::WriteText(k.get(), value.c_str(), text));
    }
    // "" when absent, "<no key>" without the key.
    static std::string Get(const std::string& key, const char* value)
    {
        accountkeys::Key accounts, account;
        if (!accountkeys::OpenAccounts(accounts) || !accountkeys::OpenAccount(accounts.get(), key, account))
            return "<no key>";
        std::string text;
        accountkeys::ReadText(account.get(), value, text);
        return text;
    }
    bool Unchanged() const
    {
        return Get("00000001", "POP3 USER NAME") == "kim#mailhost#110" &&
               Get("00000001", "POP3 BACKUP") == "mailhost" && Get("00002002", "ORVANTA ACCOUNT") == "Orvanta";
    }
    // The removal's starts, after up to `wait` for the first one.
    int Removals(std::chrono::milliseconds wait) const
    {
        auto until = std::chrono::steady_clock::now() + wait;
        while (!fs::exists(record) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string text = Slurp(record);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }

    fs::path path, record;
};

}  // namespace

class DialogTest : public QObject {
    Q_OBJECT

private slots:
    void showsTitleTextsButtonsAndIcon()
    {
        Scratch scratch;
        unmoor::Uninstaller uninstaller(scratch.path);
        unmoor::UninstallDialog dialog(uninstaller);
        dialog.show();
        QCOMPARE(dialog.windowTitle(), U("Orvanta For Outlook Zidevoz Uninstall"));
        QCOMPARE(dialog.ThanksLabel()->text(), U("Orvanta을 사용해 주셔서 감사드립니다."));
        QCOMPARE(dialog.QuestionLabel()->text(), U("Orvanta을 제거 하시겠습니까?"));
        QCOMPARE(dialog.OkButton()->text(), U("확인"));
        QCOMPARE(dialog.CancelButton()->text(), U("취소"));
        QVERIFY(dialog.OkButton()->isDefault());
        QVERIFY(dialog.isModal());
        // The icon is drawn from the program's own SVG, in every size it offers.
        QVERIFY(!dialog.windowIcon().isNull());
        QVERIFY(dialog.windowIcon().availableSizes().contains(QSize(48, 48)));
        QImage image = dialog.windowIcon().pixmap(48, 48).toImage();
        QVERIFY(image.pixelColor(4, 4).alpha() == 0);      // outside the shield
        QVERIFY(image.pixelColor(20, 12).alpha() == 255);  // the shield
        dialog.close();
    }

    void okRestoresAndStartsTheRemoval()
    {
        Scratch scratch;
        unmoor::Uninstaller uninstaller(scratch.path);
        unmoor::UninstallDialog dialog(uninstaller);
        dialog.show();
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(Scratch::Get("00000001", "POP3 USER NAME"), std::string("kim"));
        QCOMPARE(Scratch::Get("00000001", "POP3 SERVER"), std::string("mailhost"));
        QCOMPARE(Scratch::Get("00000001", "POP3 BACKUP"), std::string());
        QCOMPARE(Scratch::Get("00002002", "ORVANTA ACCOUNT"), std::string("<no key>"));
        QVERIFY(dialog.Result().has_value());
        QCOMPARE(dialog.Result()->accountsRestored, std::vector<std::string>{"00000001"});
        QCOMPARE(scratch.Removals(std::chrono::seconds(10)), 1);
    }

    void cancelEscAndTheCloseBoxChangeNothing()
    {
        Scratch scratch;
        unmoor::Uninstaller uninstaller(scratch.path);
        {
            unmoor::UninstallDialog dialog(uninstaller);
            dialog.show();
            QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(!dialog.Result().has_value());
        }
        {
            unmoor::UninstallDialog dialog(uninstaller);
            dialog.show();
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        {
            // The close box: the window system asks the window to close.
            unmoor::UninstallDialog dialog(uninstaller);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QVERIFY(dialog.close());
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(!dialog.Result().has_value());
        }
        QVERIFY(scratch.Unchanged());
        QCOMPARE(scratch.Removals(std::chrono::milliseconds(300)), 0);
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
