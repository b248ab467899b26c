// The worm detector against crafted messages parsed by Parsewick.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sievelet/sievelet.h"
#include "sievelet/worm_signatures.h"
#include "tests/sievelet/test_support.h"

using sievelet_test::MessageWithAttachments;
using sievelet_test::PartHeaders;

namespace {

struct Verdict {
    bool hit = false;
    std::string description;
    int action = -1;
    SPAM_FILTER result{};
};

Verdict Judge(const std::string& text)
{
    std::vector<CMailHeader> headers = PartHeaders(text);
    Verdict v;
    char folder[256] = "INBOX";
    CProgramFilter filter;
    v.result.fid = 77;
    v.hit = filter.DoSpamFiltering(v.result, headers.data(), static_cast<int>(headers.size()), folder, &v.action);
    v.description = v.result.description;
    EXPECT_STREQ(folder, "INBOX") << "the folder is never written";
    return v;
}

Verdict Judge(const std::string& subject, const std::vector<std::string>& files)
{
    return Judge(MessageWithAttachments(subject, files));
}

// One member called on its own, as a caller of the exported member would.
bool Member(CProgramFilter::Signature member, const std::string& subject, const std::vector<std::string>& files,
            SPAM_FILTER& result)
{
    std::vector<CMailHeader> headers = PartHeaders(MessageWithAttachments(subject, files));
    std::string lowered = subject;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    CMailHeader* p = headers.data();
    CProgramFilter filter;
    return (filter.*member)(result, lowered.c_str(), p, static_cast<int>(headers.size()));
}

}  // namespace

TEST(ProgramFilter, ChetNeedsBothItsSubjectAndItsAttachment)
{
    Verdict v = Judge("All People are welcome", {"11SEPTEMBER.EXE"});
    ASSERT_TRUE(v.hit);
    EXPECT_EQ(v.description, "Win32/Chet.worm.26628");
    EXPECT_EQ(v.action, 1);
    EXPECT_STREQ(v.result.word, "-");
    EXPECT_STREQ(v.result.folder, "INBOX");
    EXPECT_EQ(v.result.hit, 1);
    EXPECT_EQ(v.result.action, 1);
    EXPECT_EQ(v.result.property, 5);
    EXPECT_EQ(v.result.match, 0);
    EXPECT_EQ(v.result.fid, 77) << "FID is left as it was";

    EXPECT_FALSE(Judge("All People are welcome", {}).hit);
    EXPECT_FALSE(Judge("All People are welcome", {"other.exe"}).hit);
    EXPECT_FALSE(Judge("Some people", {"11september.exe"}).hit);
}

TEST(ProgramFilter, AfterAMissTheResultHoldsTheLastMembersFilling)
{
    Verdict v = Judge("Quarterly figures", {"figures.xls"});
    EXPECT_FALSE(v.hit);
    EXPECT_EQ(v.action, -1);
    EXPECT_EQ(v.description, "Win32/Allgro.worm Virus");
    EXPECT_EQ(v.result.action, 1);
}

TEST(ProgramFilter, KlezIsASubjectOnlyComposite)
{
    EXPECT_EQ(Judge("a funny game for you", {}).description, "Win32/Klez.worm.H Virus");
    EXPECT_EQ(Judge("A SPECIALie 6.0 patch", {}).description, "Win32/Klez.worm.H Virus");
    EXPECT_EQ(Judge("new website", {}).description, "Win32/Klez.worm.H Virus");
    EXPECT_FALSE(Judge("a funny  game", {}).hit);
    EXPECT_FALSE(Judge("funnygame", {}).hit);
    EXPECT_EQ(sievelet::Worms().signatures[sievelet::CheckKlezwormH].subjects.Count(), 72u);
}

TEST(ProgramFilter, UpdatrCombinesFourPartsAndNeedsAnAttachment)
{
    const auto& sig = sievelet::Worms().signatures[sievelet::CheckUpdatrworm1228];
    EXPECT_EQ(sig.subjects.Count(), 2695u);
    EXPECT_EQ(sig.files.Count(), 8u);
    EXPECT_EQ(Judge("Have you check out this patch", {"Setup.exe"}).description, "Win32/Updatr.worm.1228 Virus")
        << "ahead of Eira's Setup.exe";
    EXPECT_EQ(Judge("FWD: look at program private pic!", {"picture.JPG.exe"}).description,
              "Win32/Updatr.worm.1228 Virus");
    EXPECT_EQ(Judge("why not you open the wtc tragedy", {"Readme.exe"}).description, "Win32/Updatr.worm.1228 Virus");
    EXPECT_FALSE(Judge("just check out this patch", {}).hit);
    EXPECT_FALSE(Judge("just checking this patch", {"Readme.exe"}).hit);
    EXPECT_FALSE(Judge("just look  at my report", {"Readme.exe"}).hit);
}

TEST(ProgramFilter, BadtransAndYahaAreAttachmentOnlyComposites)
{
    EXPECT_EQ(sievelet::Worms().signatures[sievelet::CheckBadtransworm29020].files.Count(), 96u);
    EXPECT_EQ(sievelet::Worms().signatures[sievelet::CheckYahaworm27648].files.Count(), 351u);
    EXPECT_EQ(Judge("whatever", {"Pics.ZIP.SCR"}).description, "Win32/Badtrans.worm.29020 Virus");
    EXPECT_EQ(Judge("", {"you_are_fat!.mp3.pif"}).description, "Win32/Badtrans.worm.29020 Virus");
    EXPECT_FALSE(Judge("whatever", {"Pics.SCR"}).hit);
    EXPECT_FALSE(Judge("whatever", {"Pics"}).hit);
    EXPECT_EQ(Judge("hello there", {"LOVELETTER.ZIP.BAT"}).description, "Win32/Yaha.worm.27648 Virus");
    EXPECT_EQ(Judge("x", {"report.mdb.scr"}).description, "Win32/Yaha.worm.27648 Virus");
    EXPECT_FALSE(Judge("x", {"report.mdb"}).hit);
    EXPECT_EQ(Judge("x", {"Pray_For_Ameica.scr"}).description, "Win32/Arsd.worm Virus");
    EXPECT_EQ(sievelet::Worms().signatures[sievelet::CheckArsdworm].files.Count(), 50u);
}

TEST(ProgramFilter, CervivecComparesTheWholeSubject)
{
    EXPECT_EQ(Judge("JOKE", {}).description, "Win32/Mani.worm.30720 Virus");
    EXPECT_EQ(Judge("Chiste", {}).description, "Win32/Mani.worm.30720 Virus");
    EXPECT_EQ(Judge("\xF8\xF3\xF2\xEA?", {}).description, "Win32/Mani.worm.30720 Virus");
    EXPECT_FALSE(Judge("a joke", {}).hit);
    EXPECT_FALSE(Judge("jokes", {}).hit);
}

TEST(ProgramFilter, VirusSubjectPairsInOrder)
{
    EXPECT_EQ(Judge("Pluginspage", {}).description, "Virus Virus");
    EXPECT_EQ(Judge("check this out: attention virus", {}).description, "VBS/Bernie Virus");
    EXPECT_EQ(Judge("Here you have, ;o)", {}).description, "VBS/VBSWG.AC Virus");

    // Filled only on a hit.
    SPAM_FILTER result{};
    std::strcpy(result.description, "kept");
    EXPECT_FALSE(Member(&CProgramFilter::CheckVirusSubject, "nothing", {}, result));
    EXPECT_STREQ(result.description, "kept");
    EXPECT_TRUE(Member(&CProgramFilter::CheckVirusSubject, "Maxima Screensaver", {}, result));
    EXPECT_STREQ(result.description, "Win32/Zoek.worm.217600 Virus");
}

TEST(ProgramFilter, VirusFilenamePairsGoByAttachmentOrder)
{
    EXPECT_EQ(Judge("x", {"HELLO.EXE", "AntiMani.exe"}).description, "Win32/Hzihe.worm.49152 Virus");
    EXPECT_EQ(Judge("x", {"antimani.exe", "hello.exe"}).description, "Win32/Mani.worm.30720 Virus");
    // 구인구직.doc.bat
    EXPECT_EQ(Judge("x", {"\xB1\xB8\xC0\xCE\xB1\xB8\xC1\xF7.DOC.BAT"}).description, "VBS/Hard Virus");
    SPAM_FILTER result{};
    std::strcpy(result.description, "kept");
    EXPECT_FALSE(Member(&CProgramFilter::CheckVirusFilename, "x", {"hello.txt"}, result));
    EXPECT_STREQ(result.description, "kept");
}

TEST(ProgramFilter, EarlierMemberInTheTableReports)
{
    // Chet (1st) and Klez (2nd) both apply.
    EXPECT_EQ(Judge("all people: a new game", {"11september.exe"}).description, "Win32/Chet.worm.26628");
    // Assa (3rd) and Manymize (5th).
    EXPECT_EQ(Judge("re: hi", {"Mi2.chm", "card.exe"}).description, "Win32/Assa.worm.69632 Virus");
    // Manymize (5th) and Goner (54th) share the subject "hi".
    EXPECT_EQ(Judge("hi", {"Gone.scr", "mi2.exe"}).description, "Win32/Manymize.worm Virus");
    EXPECT_EQ(Judge("hi", {"Gone.scr"}).description, "Win32/Goner.worm.38912 Virus");
}

TEST(ProgramFilter, Cp949AttachmentNames)
{
    // 견적서.exe with a reply subject: Assa.
    EXPECT_EQ(Judge("Re: \xB0\xDF\xC0\xFB", {"\xB0\xDF\xC0\xFB\xBC\xAD.exe"}).description,
              "Win32/Assa.worm.69632 Virus");
    // re: hi~ 오랜만이야~ with Chunoo.vbs.
    EXPECT_EQ(Judge("RE: Hi~ \xBF\xC0\xB7\xA3\xB8\xB8\xC0\xCC\xBE\xDF~", {"chunoo.VBS"}).description,
              "VBS/VBSWG.Kr Virus");
}

TEST(ProgramFilter, SinglePartAttachmentMessageUsesTheFirstHeader)
{
    std::string text = "From: a@example.com\r\n"
                       "To: b@example.net\r\n"
                       "Subject: All people must see\r\n"
                       "Content-Type: application/octet-stream; name=\"11september.exe\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n"
                       "\r\n"
                       "TVqQAAMAAAAEAAAA\r\n";
    Verdict v = Judge(text);
    EXPECT_TRUE(v.hit);
    EXPECT_EQ(v.description, "Win32/Chet.worm.26628");

    // A Content-Disposition file name alone is not an attachment to the detector.
    std::string disposition = "Subject: All people must see\r\n"
                              "Content-Type: application/octet-stream\r\n"
                              "Content-Disposition: attachment; filename=\"11september.exe\"\r\n"
                              "\r\n"
                              "TVqQ\r\n";
    EXPECT_FALSE(Judge(disposition).hit);
}

TEST(ProgramFilter, NoHeadersMeansNoAttachmentAndNoSubject)
{
    CProgramFilter filter;
    SPAM_FILTER result{};
    char folder[256] = "INBOX";
    int action = 0;
    EXPECT_FALSE(filter.DoSpamFiltering(result, nullptr, 0, folder, &action));
    EXPECT_EQ(action, 0);
    CMailHeader* none = nullptr;
    EXPECT_FALSE(filter.CheckChetworm26628(result, "all people", none, 0));
    EXPECT_STREQ(result.description, "Win32/Chet.worm.26628") << "filled before testing";
    EXPECT_TRUE(filter.DoSpamContentFiltering(nullptr, nullptr, nullptr));
}

TEST(ProgramFilter, MemberTableOrder)
{
    ASSERT_EQ(CProgramFilter::GetSignatureCount(), 59);
    EXPECT_TRUE(CProgramFilter::GetSignature(0) == &CProgramFilter::CheckChetworm26628);
    EXPECT_TRUE(CProgramFilter::GetSignature(10) == &CProgramFilter::CheckYahaworm27648);
    EXPECT_TRUE(CProgramFilter::GetSignature(30) == &CProgramFilter::CheckCervivecworm228872);
    EXPECT_TRUE(CProgramFilter::GetSignature(31) == &CProgramFilter::CheckVirusSubject);
    EXPECT_TRUE(CProgramFilter::GetSignature(32) == &CProgramFilter::CheckVirusFilename);
    EXPECT_TRUE(CProgramFilter::GetSignature(51) == &CProgramFilter::CheckArsdworm);
    EXPECT_TRUE(CProgramFilter::GetSignature(55) == &CProgramFilter::CheckBadtransworm29020);
    EXPECT_TRUE(CProgramFilter::GetSignature(58) == &CProgramFilter::CheckAllgroworm);
    EXPECT_TRUE(CProgramFilter::GetSignature(59) == nullptr);
    EXPECT_TRUE(CProgramFilter::GetSignature(-1) == nullptr);
}

// One subject and one attachment per two-test member: each member hits through
// DoSpamFiltering with its own name, and neither half alone makes it hit.
TEST(ProgramFilter, EveryTwoTestMemberNeedsBothHalves)
{
    struct Case {
        int index;
        const char* subject;
        const char* file;
        const char* name;
    };
    const Case cases[] = {
        {0, "all people", "11september.exe", "Win32/Chet.worm.26628"},
        {2, "re: opinion", "opinion.exe", "Win32/Assa.worm.69632 Virus"},
        {3, "it is comming", "pp.exe", "Win32/ChiHack.worm.10748 Virus"},
        {4, "how are you", "mi2.exe", "Win32/Manymize.worm Virus"},
        {5, "Admision 2003", "unheval.exe", "Win32/Lavehn.worm.32768 Virus"},
        {6, "Re: Your password!", "password.txt", "Win32/Frethem.worm.48640 Virus"},
        {7, "FW:FW: Lilac project video attach", "lilac_what_a_wonderfulname.avi.exe", "Win32/Liac.worm.12208 Virus"},
        {8, "Facturas", "Facturas556.XLS.pif", "Win32/Kitro.worm.169984 Virus"},
        {9, "NewTool for Word macro virus", "DocTor.exe", "Win32/Dotor.worm.11776 Virus"},
        {11, "Incredibile", "tattoo.exe", "Win32/Higuy.worm.34761 Virus"},
        {12, "Re: Korea Japan results", "koreajapan.chm", "VBS/Chick.G Virus"},
        {13, "XXX picture", "XXXPic.exe", "Win32/PetLil.worm.37376 Virus"},
        {14, "New pictures of Lina Morvay", "LinaMorvay.jpg.vbs", "VBS/VBSWG.AQ Virus"},
        {15, "new visual tool for u", "Visual_tool.exe", "Win32/Petvb.worm.9216 Virus"},
        {16, "eDonkey update", "Esel_Update.EXE", "Win32/Enemany.worm.8704.B Virus"},
        {17, "Sadie Lorne naked", "SadieLorne.TXT.vbs", "VBS/Horty Virus"},
        {18, "Please , read the message", "PeaceMessanger.exe", "Win32/Maldal.worm.21504 Virus"},
        {19, "Mira esto, jajaja, te vas a reir!!", "OperacionTriunfo.scr", "Win32/Trilisa Virus"},
        {20, "El nuevo video de Nela Quiroz", "NelaQuiroz.chm", "VBS/Chick.C Virus"},
        {21, "Sexyy screen saver", "USA.scr", "Win32/Mylife.worm.22528 Virus"},
        {22, "peeeeep picture", "peeeep~~~.scr", "Win32/Mylife.worm.12288 Virus"},
        {23, "peeeeeep", "peeeeep.mpeg.scr", "Win32/Mylife.worm.7168 Virus"},
        {24, "Bertrand and Okafor", "bertrand.scr", "Win32/Mylife.worm.13824 Virus"},
        {25, ".", "the_funniest_screensaver_you_have_ever_seen_in_your_whole_life.www.freesaver-net.com",
         "Win32/Aplore.worm.319488 Virus"},
        {26, "The List", "List.TXT.scr", "Win32/Mylife.worm.7680.B Virus"},
        {28, "RE:Nuevo video de Caifanes", "caifanes.chm", "VBS/Chick.B Virus"},
        {29, "Have a nice day", "Friends.scr", "Win32/Yaha.worm.23320 Virus"},
        {33, "Bill caricature", "cari.scr", "Win32/Mylife.worm.11524 Virus"},
        {34, "Storielle", "pippo.exe", "Win32/Atram.worm.49664 Virus"},
        {35, "Internet Security Update", "Q216309.exe", "Win32/Gibe.worm.122880 Virus"},
        {36, "My Life ohhhhhhhhhhhhh", "My Life.scr", "Win32/Mylife.worm.30720 Virus"},
        {37, "Urgent message for all windows users", "patch.exe", "Win32/Heidi.worm.7680 Virus"},
        {38, "IMPORTANT: Windows update", "MS02-010.exe", "Win32/Sharp.12288 Virus"},
        {39, "Re: pictures of Mira Solenne", "MiraSolenne.chm", "VBS/Chick Virus"},
        {40, "RE: FW: look", "funny.exe", "Win32/Warga.worm.77824 Virus"},
        {41, "Trojaner-Info Newsletter", "yawsetup.exe", "Win32/Yarner.worm.437760 Virus"},
        {42, "Fw: Melt the heart of your", "valentin.scr", "Win32/Yaha.worm.20992 Virus"},
        {43, "My Valentine?", "GuessGame.vbe", "VBS/Numgame Virus"},
        {44, "A comical story for you", "comical_story.doc", "W97M/Comical Virus"},
        {45, "Scene from last weekend", "scenes.zip", "VBS/Scenes.RTF Virus"},
        {46, "New photos from my party!", "www.photo-party-album.com", "Win32/Myparty.worm.29696 Virus"},
        {47, "Outlook Express Update", "Mmsn_offline.htm", "JS/Gigger Virus"},
        {48, "Fw: Scherzo!", "javascript.exe", "Win32/Zoher.worm.6656 Virus"},
        {49, "Happy New Year", "christmas.exe", "Win32/Maldal.worm.37376 Virus"},
        {50, "Funny", "funnystories.txt.vbs", "VBS/Fundll Virus"},
        {52, "re: check out my report", "Letter.Doc.exe", "Win32/Updatr.worm.1228 Virus"},
        {53, "Hi", "Gone.scr", "Win32/Goner.worm.38912 Virus"},
        {54, "Wait till you see this!", "Honey.exe", "Win32/Eira.worm Virus"},
        {56, "yay. i caught a fish", "Si.exe", "Win32/Redesi.worm Virus"},
        {57, "Antrax info", "antraxinfo.vbs", "VBS/VBSWG.AF Virus"},
        {58, "Antivirus tool", "Antivirus.exe", "Win32/Allgro.worm Virus"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProgramFilter::Signature member = CProgramFilter::GetSignature(c.index);
        SPAM_FILTER result{};
        EXPECT_TRUE(Member(member, c.subject, {"readme.txt", c.file}, result));
        EXPECT_STREQ(result.description, c.name);
        EXPECT_FALSE(Member(member, c.subject, {"readme.txt"}, result));
        EXPECT_FALSE(Member(member, "Quarterly figures", {c.file}, result));
        Verdict v = Judge(c.subject, {"readme.txt", c.file});
        EXPECT_EQ(v.description, c.name);
        EXPECT_EQ(v.action, 1);
    }
}

// DoSpamFiltering skips signatures that cannot hit; its answer and result must be those of
// running every member in table order.
TEST(ProgramFilter, SkippingMembersChangesNothing)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> messages = {
        {"Quarterly figures", {}},
        {"all people", {}},
        {"re: hi", {"Mi2.chm"}},
        {"re: hi", {"Gone.scr"}},
        {"hi", {"hello.exe"}},
        {"JOKE", {"readme.txt"}},
        {"check this out", {"x.exe"}},
        {"nothing", {"Pics.zip.scr", "AntiMani.exe"}},
        {"have you open my patch", {"Files.exe"}},
        {"antivirus tool", {"antivirus.exe"}},
        {"", {}},
    };
    for (const auto& [subject, files] : messages) {
        SCOPED_TRACE(subject);
        std::vector<CMailHeader> headers = PartHeaders(MessageWithAttachments(subject, files));
        CProgramFilter filter;
        SPAM_FILTER fast{}, slow{};
        char folder[256] = "INBOX";
        int action = 0;
        bool fastHit = filter.DoSpamFiltering(fast, headers.data(), static_cast<int>(headers.size()), folder, &action);
        std::string lowered = subject;
        for (char& c : lowered)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        CMailHeader* p = headers.data();
        bool slowHit = false;
        for (int i = 0; i < CProgramFilter::GetSignatureCount() && !slowHit; ++i)
            slowHit =
                (filter.*CProgramFilter::GetSignature(i))(slow, lowered.c_str(), p, static_cast<int>(headers.size()));
        EXPECT_EQ(fastHit, slowHit);
        EXPECT_STREQ(fast.description, slow.description);
        EXPECT_STREQ(fast.word, slow.word);
        EXPECT_STREQ(fast.folder, slow.folder);
        EXPECT_EQ(fast.hit, slow.hit);
        EXPECT_EQ(fast.action, slow.action);
        EXPECT_EQ(fast.property, slow.property);
        EXPECT_EQ(fast.match, slow.match);
        EXPECT_EQ(fast.fid, slow.fid);
    }
}
