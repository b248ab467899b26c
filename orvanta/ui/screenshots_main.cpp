// orvanta-screenshots DIR: a picture of every page, dialog and prompt of the tray application,
// filled with sample data, as PNG files in DIR. `make screenshots` runs it under Xvfb at 96 and
// at 144 dpi.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "orvanta/core/settings.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/spam_notices.h"
#include "orvanta/ui/cp949.h"
#include "harborage/harborage.h"
#include "orvanta/ui/debug_window.h"
#include "orvanta/ui/environment_settings.h"
#include "orvanta/ui/mailbox_dialog.h"
#include "orvanta/ui/smtp_choice_dialog.h"
#include "orvanta/ui/update_page.h"
#include "orvanta/ui/feedback_prompt.h"
#include "orvanta/ui/filter_settings.h"
#include "orvanta/ui/find_window.h"
#include "orvanta/ui/icons.h"
#include "orvanta/ui/pass_filter_dialog.h"
#include "orvanta/ui/pass_filter_page.h"
#include "orvanta/ui/private_filter_dialog.h"
#include "orvanta/ui/private_filter_page.h"
#include "orvanta/ui/small_windows.h"
#include "sievelet/sievelet.h"

using namespace orvanta;
using namespace orvanta::ui;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

void Save(QWidget& w, const std::filesystem::path& dir, const char* name, bool fit = true)
{
    w.show();
    if (fit)
        w.adjustSize();
    QApplication::processEvents();
    const std::string path = (dir / (std::string(name) + ".png")).string();
    if (!w.grab().save(QString::fromStdString(path)))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    w.hide();
}

void SampleRules(pipeline::FilterSets& sets)
{
    auto rule = [&](unsigned char kind, const char* word, const char* folder, int action, long hits) {
        sets.priv->AddSpamFilter(true, SPAM_LEVEL_LOW, kind, 0, hits, ToCp949(U(word)).c_str(),
                                 ToCp949(U(folder)).c_str(), "", action);
    };
    rule(SPAM_PROPERTY_SUBJECT, "광고", "INBOX", 0, 12);
    rule(SPAM_PROPERTY_SENDER, "deals@shop.example", "INBOX/광고", 0, 3);
    rule(SPAM_PROPERTY_CONTENT, "무료 상담", "INBOX", 1, 0);
    rule(SPAM_PROPERTY_FILENAME, "invoice.exe", "INBOX", 1, 1);
    sets.pass->AddPassFilter("friend@example.org", ToCp949(U("친구")).c_str());
    sets.pass->AddPassFilter("example.net", ToCp949(U("회사")).c_str());
    pipeline::WarningTexts()[0] = ToCp949(U("스팸메일을 보내지 마세요.\r\n수신을 원하지 않습니다."));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvanta-screenshots DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::filesystem::path data =
        std::filesystem::temp_directory_path() / ("orvanta-shots-" + std::to_string(getpid()));
    std::filesystem::create_directories(data);
    ResetSettings();
    SetSetting(IntSetting::UseWarn, 1);
    {
        pipeline::FilterSets sets(data.string() + "/");
        SampleRules(sets);

        FilterSettings filters(sets, nullptr);
        // The size the main window gives its page area, grown with the font.
        const int scale = std::max(96, filters.logicalDpiX());
        filters.resize(640 * scale / 96, 380 * scale / 96);
        for (int tab = 0; tab < filters.count(); ++tab) {
            filters.setCurrentIndex(tab);
            const char* names[] = {"filters-online", "filters-private", "filters-pass", "filters-warning"};
            Save(filters, dir, names[tab], false);
        }

        PrivateFilterDialog::Values values;
        values.word = U("광고");
        values.description = U("광고 메일");
        values.folder = U("받은 편지함/광고");
        PrivateFilterDialog privateDialog(values, nullptr);
        Save(privateDialog, dir, "dialog-private-filter");
        PassFilterDialog passDialog("friend@example.org", U("친구"));
        Save(passDialog, dir, "dialog-pass-filter");
        FindWindow find(filters.Private()->List());
        find.Text()->setText(U("광고"));
        Save(find, dir, "dialog-find");

        FeedbackPrompt passPrompt(FeedbackPrompt::Kind::kPass, "friend@example.org");
        Save(passPrompt, dir, "prompt-pass");
        FeedbackPrompt blockPrompt(FeedbackPrompt::Kind::kBlock, "deals@shop.example");
        Save(blockPrompt, dir, "prompt-block");

        NoticeWindow notice;
        notice.ShowText(U("Orvanta 공지사항\r\n\r\n새 필터 목록이 준비되었습니다."));
        Save(notice, dir, "notice");
        AboutBox about;
        Save(about, dir, "about");
        EnvironmentSettings settings({}, {{}, {}, [] { return true; }}, "/usr/lib/orvanta/orvanta");
        Save(settings, dir, "settings-client");
        settings.setCurrentIndex(1);
        Save(settings, dir, "settings-program");
        UpdatePage update({"Pellix", U("Orvanta서버")}, {});
        Save(update, dir, "update");
        SmtpChoiceDialog choice({"smtp.example.org", "mail.example.net"});
        Save(choice, dir, "smtp-choice");
        CIMAPFolder store(data.string().c_str());
        for (const char* folder : {"INBOX", "INBOX/Lists", "Ads"})
            store.CreateFolder(folder);
        store.CreateFolder(CIMAPFolder::EncodeFolderName(ToCp949(U("스팸 편지함"))).c_str());
        MailboxDialog mailbox(data.string());
        Save(mailbox, dir, "mailbox");
        DebugWindow debug;
        for (const char* line : {"+OK Dovecot ready.", "+OK Logged in.", "+OK 2 messages:", "1 1204", "2 3310", "."})
            debug.Append(DebugTab::Pop3, U(line));
        debug.findChild<QTabWidget*>()->setCurrentIndex(1);
        Save(debug, dir, "debug");
    }
    QLabel splash;
    splash.setPixmap(SplashPicture());
    Save(splash, dir, "splash");
    std::filesystem::remove_all(data);
    return 0;
}
