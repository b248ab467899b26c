#include "sievelet/worm_signatures.h"

#include "sievelet/text_match.h"

// Korean subject texts and attachment names are CP949 bytes; their readings are noted.
namespace sievelet {

namespace {

using Texts = std::vector<std::string>;

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = LowerByte(c);
    return text;
}

Texts Lowered(Texts texts)
{
    for (std::string& t : texts)
        t = Lowered(std::move(t));
    return texts;
}

void Set(WormTables& t, WormIndex index, const char* name, WormTest test, const Texts& subjects, const Texts& files)
{
    WormSignature& s = t.signatures[index];
    s.name = name;
    s.test = test;
    Texts lowered = Lowered(subjects);
    s.subjects = SubjectSet(lowered);
    s.files = FileNameSet(files);
    if (test == WormTest::SubjectAndFile || test == WormTest::SubjectOnly)
        for (const std::string& text : lowered)
            t.subjectMarks.Add(text, uint64_t(1) << index);
}

// The usual signature: a listed subject text and a listed attachment name.
void Both(WormTables& t, WormIndex index, const char* name, const Texts& subjects, const Texts& files)
{
    Set(t, index, name, WormTest::SubjectAndFile, subjects, files);
}

void Build(WormTables& t)
{
    Both(t, CheckChetworm26628, "Win32/Chet.worm.26628", {"all people"}, {"11september.exe"});

    Set(t, CheckKlezwormH, "Win32/Klez.worm.H Virus", WormTest::SubjectOnly,
        Combine({{"special", ""},
                 {"new", "funny", "nice", "humour", "excite", "good", "powful", "winxp", "ie 6.0"},
                 {" "},
                 {"game", "tool", "website", "patch"}}),
        {});

    Both(t, CheckAssaworm69632, "Win32/Assa.worm.69632 Virus", {"re:"},
         {"opinion.exe",
          "images.exe",
          "card.exe",
          "1\xB1\xDE\xB9\xAE\xBC\xAD.exe",  // 1급문서 (first-class document)
          "2\xB1\xDE.exe",                  // 2급 (second class)
          "click.exe",
          "game.exe",
          "news_doc.exe",
          "data.exe",
          "\xB4\xE4\xBA\xAF\xB8\xDE\xC0\xCF.exe",  // 답변메일 (reply mail)
          "\xC1\xD6\xB9\xAE\xB9\xAE\xC0\xC7.exe",  // 주문문의 (order inquiry)
          "\xB1\xE4\xB1\xDE.exe",                  // 긴급 (urgent)
          "\xB0\xE8\xBB\xEA\xBC\xAD.exe",          // 계산서 (bill)
          "Card.EXE",
          "bill.exe",
          "\xB0\xDF\xC0\xFB\xBC\xAD.exe",  // 견적서 (quotation)
          "mp3.exe",
          "docs.exe",
          "humor.exe",
          "Flash.exe",
          "fun.exe",
          "\xC8\xAE\xC0\xCE\xB9\xD9\xB6\xF7.exe",  // 확인바람 (please check)
          "\xB4\xEB\xBF\xDC\xBA\xF1.exe",          // 대외비 (confidential)
          "demo.exe"});

    Both(t, CheckChiHackworm10748, "Win32/ChiHack.worm.10748 Virus", {"is comming"}, {"pp.exe"});
    Both(t, CheckManymizeworm, "Win32/Manymize.worm Virus", {"how are you", "my friend,", "hello", "hi"},
         {"mi2.exe", "Mi2.chm", "Mi2.htm", "Mi2.wmv"});
    Both(t, CheckLavehnworm32768, "Win32/Lavehn.worm.32768 Virus", {"admision 2003"}, {"UNHEVAL.EXE"});
    Both(t, CheckFrethemworm48640, "Win32/Frethem.worm.48640 Virus", {"re: your password!"},
         {"decrypt-password.exe", "password.txt"});
    Both(t, CheckLiacworm12208, "Win32/Liac.worm.12208 Virus", {"fw:fw: lilac project video attach"},
         {"LILAC_WHAT_A_WONDERFULNAME.AVI.EXE"});
    Both(t, CheckKitroworm169984, "Win32/Kitro.worm.169984 Virus",
         {"messenger vulnerable", "77:test de amor", "fw: enviame tu foto.", "leelo y reenvialo a quienes aprecias",
          "listado de falsas alarmas.", "facturas", "es posible que nos roben la identidad.", "para los amigos",
          "this is a last hoax list."},
         {"ReparacionDeMessenger.DOC.pif", "TestDeAmoryAmistad.DOC.pif", "EnLosAndes.pif", "Cristo_Nos_Ense",
          "YaNoPuedoSerYoMismo.DOC.pif", "Facturas556.XLS.pif", "PostalDeAmistad.pif",
          "ListadoDeFalsasAlarmas.txt.www.vendorsafe.com", "LastHoaxList.txt.www.vendorsafe.com"});
    Both(t, CheckDoctorworm11776, "Win32/Dotor.worm.11776 Virus", {"newtool for word macro virus"}, {"DocTor.exe"});

    Set(t, CheckYahaworm27648, "Win32/Yaha.worm.27648 Virus", WormTest::FileOnly, {},
        Combine(
            {{"loveletter", "resume", "biodata", "dailyreport", "mountan", "goldfish", "weeklyreport", "report",
              "love"},
             {".doc", ".mp3", ".xls", ".wav", ".txt", ".jpg", ".gif", ".dat", ".bmp", ".htm", ".mpg", ".mdb", ".zip"},
             {".pif", ".bat", ".scr"}}));

    Both(t, CheckHiguyworm34761, "Win32/Higuy.worm.34761 Virus",
         {"incredibile", "urgente! (vedi allegato)", "qualsiasi cosa fai,falla al meglio"},
         {"tettona.exe", "euro.exe", "tattoo.exe"});
    Both(t, CheckVBSChickG, "VBS/Chick.G Virus", {"re: korea japan results"}, {"koreajapan.chm"});
    Both(t, CheckPetLilworm37376, "Win32/PetLil.worm.37376 Virus", {"xxx picture"}, {"XXXPic.exe"});
    Both(t, CheckVBSVBSWGAQ, "VBS/VBSWG.AQ Virus", {"new pictures of lina morvay"}, {"LinaMorvay.jpg.vbs"});
    Both(t, CheckPetvbworm9216, "Win32/Petvb.worm.9216 Virus", {"new visual tool for u"}, {"Visual_tool.exe"});
    Both(t, CheckEnemanyworm8704B, "Win32/Enemany.worm.8704.B Virus", {"edonkey update"}, {"Esel_Update.EXE"});
    Both(t, CheckVBSHorty, "VBS/Horty Virus", {"sadie lorne naked"}, {"SadieLorne.TXT.vbs"});
    Both(t, CheckMaldalworm21504, "Win32/Maldal.worm.21504 Virus", {"please , read the message"},
         {"PeaceMessanger.exe"});
    Both(t, CheckTrilisa, "Win32/Trilisa Virus", {"mira esto, jajaja, te vas a reir!!"}, {"OperacionTriunfo.scr"});
    Both(t, CheckChickC, "VBS/Chick.C Virus", {"el nuevo video de nela quiroz"}, {"NelaQuiroz.chm"});
    Both(t, CheckMylifeworm22528, "Win32/Mylife.worm.22528 Virus", {"sexyy screen saver"}, {"USA.scr"});
    Both(t, CheckMylifeworm12288, "Win32/Mylife.worm.12288 Virus", {"peeeeep picture"}, {"peeeep~~~.scr"});
    Both(t, CheckMylifeworm7168, "Win32/Mylife.worm.7168 Virus", {"peeeeeep"}, {"peeeeep.mpeg.scr"});
    Both(t, CheckMylifeworm13824, "Win32/Mylife.worm.13824 Virus", {"bertrand and okafor"}, {"bertrand.scr"});
    Both(t, CheckAploreworm319488, "Win32/Aplore.worm.319488 Virus", {"."},
         {"the_funniest_screensaver_you_have_ever_seen_in_your_whole_life.www.freesaver-net.com"});
    Both(t, CheckMylifeworm7680B, "Win32/Mylife.worm.7680.B Virus", {"the list"}, {"List480.TXT.scr", "List.TXT.scr"});
    Both(t, CheckVBSVBSWGKr, "VBS/VBSWG.Kr Virus",
         {"re: hi~ \xBF\xC0\xB7\xA3\xB8\xB8\xC0\xCC\xBE\xDF~"},  // re: hi~ 오랜만이야~
         {"Chunoo.vbs"});
    Both(t, CheckVBSChickB, "VBS/Chick.B Virus", {"re:nuevo video de caifanes"}, {"caifanes.chm"});
    Both(t, CheckYahaworm23320, "Win32/Yaha.worm.23320 Virus",
         {"enjoy this friendship-joke screen saver", "have a nice day", "fw: enjoy this friendship-joke screen saver"},
         {"Friends.scr"});

    // The last entry is a Cyrillic word in Windows-1251 that lost its last letter.
    Set(t, CheckCervivecworm228872, "Win32/Mani.worm.30720 Virus", WormTest::WholeSubject,
        {"cervici", "witz", "blague", "joke", "zart", "chiste", "\xF8\xF3\xF2\xEA\x3F"}, {});

    Set(t, CheckVirusSubject, "", WormTest::VirusSubject, {}, {});
    Set(t, CheckVirusFilename, "", WormTest::VirusFilename, {}, {});

    Both(t, CheckMylifeworm11524, "Win32/Mylife.worm.11524 Virus", {"bill caricature"}, {"cari.scr"});
    Both(t, CheckAtramworm49664, "Win32/Atram.worm.49664 Virus",
         {"divertimento assicurato", "storielle", "leggete urgentemente questa e-mail"},
         {"porkis.exe", "pippo.exe", "bar.exe"});
    Both(t, CheckGibeworm122880, "Win32/Gibe.worm.122880 Virus", {"internet security update"}, {"Q216309.exe"});
    Both(t, CheckMylifeworm30720, "Win32/Mylife.worm.30720 Virus", {"my life ohhhhhhhhhhhhh"}, {"My Life.scr"});
    Both(t, CheckHeidiworm7680, "Win32/Heidi.worm.7680 Virus", {"urgent message for all windows users"}, {"patch.exe"});
    Both(t, CheckSharp12288, "Win32/Sharp.12288 Virus", {"important: windows update"}, {"MS02-010.exe"});
    Both(t, CheckVBSChick, "VBS/Chick Virus", {"re: pictures of mira solenne"}, {"MiraSolenne.chm"});
    Both(t, CheckWargaworm77824, "Win32/Warga.worm.77824 Virus", {"re: fw:"}, {"funny.exe"});
    Both(t, CheckYarnerworm437760, "Win32/Yarner.worm.437760 Virus", {"trojaner-info newsletter"}, {"yawsetup.exe"});
    Both(t, CheckYahaworm20992, "Win32/Yaha.worm.20992 Virus", {"fw: melt the heart of your"}, {"valentin.scr"});
    Both(t, CheckVBSNumgame, "VBS/Numgame Virus", {"my valentine?"}, {"GuessGame.html", "GuessGame.vbe"});
    Both(t, CheckW97MComical, "W97M/Comical Virus", {"a comical story for you"}, {"comical_story.doc"});
    Both(t, CheckVBSScenesRTF, "VBS/Scenes.RTF Virus", {"scene from last weekend"}, {"scenes.zip"});
    Both(t, CheckMypartyworm29696, "Win32/Myparty.worm.29696 Virus", {"new photos from my party!"},
         {"www.photo-party-album.com"});
    Both(t, CheckJSGigger, "JS/Gigger Virus", {"outlook express update"}, {"Mmsn_offline.htm"});
    Both(t, CheckZoherworm6656, "Win32/Zoher.worm.6656 Virus", {"fw: scherzo!"}, {"javascript.exe"});
    Both(t, CheckMaldalworm37376, "Win32/Maldal.worm.37376 Virus", {"happy new year"}, {"christmas.exe"});
    Both(t, CheckVBSFundll, "VBS/Fundll Virus", {"funny"}, {"funnystories.txt.vbs"});

    Set(t, CheckArsdworm, "Win32/Arsd.worm Virus", WormTest::FileOnly, {},
        {"humanity.scr",
         "humanity.exe",
         "hope.scr",
         "hope.exe",
         "pray_for_ameica.scr",
         "pray_for_america.exe",
         "god_bless_america.scr",
         "god_bless_america.exe",
         "holy.scr",
         "holy.exe",
         "prayer.scr",
         "prayer.exe",
         "american_dream.scr",
         "american.dream.exe",
         "defend_america.exe",
         "defense.exe",
         "patriot.scr",
         "patriot.exe",
         "anti_taliban.scr",
         "anti_taliban.exe",
         "wtc_heros.exe",
         "wtc_help.exe",
         "peace.scr",
         "peace.exe",
         "american_flag.scr",
         "american_flag.exe",
         "america.scr",
         "america.exe",
         "pisscam.scr",
         "pisscam.exe",
         "fucked_up_to_ass.scr",
         "fucked_up_to_ass.exe",
         "ass.scr",
         "ass.exe",
         "livesex.scr",
         "livesex.exe",
         "fuck.scr",
         "fuck.exe",
         "porn.scr",
         "porn.exe",
         "toiletcam.scr",
         "toiletcam.exe",
         "wow.scr",
         "wow.exe",
         "hotbabes.scr",
         "hotbabes.exe",
         "dorian_bertrand.scr",
         "dorian_bertrand.exe",
         "dorian.scr",
         "dorian.exe"});

    Both(t, CheckUpdatrworm1228, "Win32/Updatr.worm.1228 Virus",
         Combine({{"have you ", "you should ", "just ", "why not you ", "how to ", "re: ", "fwd: "},
                  {"check ", "check out ", "watch out ", "open ", "look at "},
                  {"this ", "my ", "for this ", "the ", "subject ", "picture ", "program "},
                  {"patch", "nude pic", "report", "documment", "quotation", "transaction", "bank account",
                   "wtc tragedy", "bertrand vs okafor", "account", "private pic"}}),
         {"Setup.EXE", "install.exe", "Readme.exe", "Files.exe", "Picture.exe", "Quotation.Doc.exe", "Letter.Doc.exe",
          "Picture.jpg.exe"});

    Both(t, CheckGonerworm38912, "Win32/Goner.worm.38912 Virus", {"hi"}, {"Gone.scr"});
    Both(t, CheckEiraworm, "Win32/Eira.worm Virus",
         {"something very special", "i know you will like this", "yes, something i can share with you",
          "wait till you see this!", "a brand new game! i hope you enjoy it"},
         {"Quake4demo.exe", "Honey.exe", "Setup.exe"});

    Set(t, CheckBadtransworm29020, "Win32/Badtrans.worm.29020 Virus", WormTest::FileOnly, {},
        Combine({{"fun", "Humor", "docs", "info", "Sorry_about_yesterday", "Me_nude", "Card", "SETUP", "stuff",
                  "YOU_are_FAT!", "HAMSTER", "news_doc", "New_Napster_Site", "README", "images", "Pics"},
                 {".MP3", ".ZIP", ".DOC"},
                 {".PIF", ".SCR"}}));

    Both(t, CheckRedesiworm, "Win32/Redesi.worm Virus",
         {"kev gives great orgasms to ladeez!!", "hell is coming for u", "scientists have found traces",
          "yay. i caught a fish", "i don't want to write anything", "i want to live in a wooden house",
          "michelle still owes me 10 ... shit", "why have i only got cheese and onion crisps",
          "a new type of lager / weed variant", "my dad not caring about my exam results"},
         {"Common.exe", "Rede.exe", "Disk.exe", "UserConf.exe", "Si.exe"});
    Both(t, CheckVBSVBSWGAF, "VBS/VBSWG.AF Virus", {"antrax info"}, {"antraxinfo.vbs"});
    Both(t, CheckAllgroworm, "Win32/Allgro.worm Virus", {"antivirus tool"}, {"Antivirus.exe"});

    const char* subjectPairs[][2] = {
        {"attention virus", "VBS/Bernie"},
        {"we had fine time ;o)", "Win32/Nahata.worm.28160.E"},
        {"maxima screensaver", "Win32/Zoek.worm.217600"},
        {"the new xerox update for our winxp", "Win32/Enemany.worm.9728"},
        {"very important !!!", "VBS/Rols.B"},
        {"worm klez.e immunity", "Win32/Klez.worm.H"},
        {"as per your request!", "Win32/APost.worm"},
        {"computer secrets", "HTML/Loding"},
        {"you have one minute to find", "VBS/PeachyPDF"},
        {"new generation of drivers", "VBS/Potok"},
        {"parrot screensaver", "Win32/Crackly"},
        {"check this out", "I-Worm/Mari.B"},
        {"here you have, ;o)", "VBS/VBSWG.AC"},
        {"pluginspage", "Virus"},
    };
    for (const auto& pair : subjectPairs) {
        t.virusSubjects.push_back({Lowered(pair[0]), std::string(pair[1]) + " Virus"});
        t.subjectMarks.Add(t.virusSubjects.back().text, uint64_t(1) << CheckVirusSubject);
    }

    const char* filePairs[][2] = {
        {"AntiMani.exe", "Win32/Mani.worm.30720"},
        {"hello.exe", "Win32/Hzihe.worm.49152"},
        {"Whatever.exe", "Win32/Aliz.worm"},
        {"ANTS3SET.EXE", "Win32/Anset.worm.179712"},
        {"Kharzad.EXE", "Win32/AntiWar"},
        {"StopTerrorists.exe", "Win32/PetTick.8704.C"},
        {"TamaraVeil.jpg.vbs", "VBS/TamaraVeil"},
        {"RoxanneDevere.JPG.vbs", "VBS/Love_Letter.CN"},
        {"Patch_www.vendorsafe.com.vbs", "VBS/VBSWG.Z"},
        {"\xB1\xB8\xC0\xCE\xB1\xB8\xC1\xF7.doc.bat", "VBS/Hard"},  // 구인구직 (job offers)
    };
    for (const auto& pair : filePairs)
        t.virusFilenames.push_back({pair[0], std::string(pair[1]) + " Virus"});
}

}  // namespace

const WormTables& Worms()
{
    static const WormTables tables = [] {
        WormTables t;
        Build(t);
        return t;
    }();
    return tables;
}

}  // namespace sievelet
