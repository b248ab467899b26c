#include "orvanta/pipeline/spam_notices.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/codepage.h"

namespace orvanta::pipeline {
namespace {

std::string WarnPath(const std::string& directory, int number)
{
    return directory + "warn" + std::to_string(number) + ".dat";
}

struct NoticeTexts {
    std::string subject, sender, originalSubject, deletedBy, category, word, description;
    std::array<std::string, 7> categories;
};

// The notice texts are kept in UTF-8 here and written as CP949, the system's code page.
const NoticeTexts& Texts()
{
    static const NoticeTexts texts = [] {
        NoticeTexts t;
        auto c = [](const char* s) { return platform::Utf8ToCp949(s); };
        t.subject = c("Subject: Orvanta의 삭제옵션에 의해서 삭제된메일입니다.\n");
        t.sender = c("메일을 보낸 원래 사용자 : ");
        t.originalSubject = c("\n원래메일제목 : ");
        t.deletedBy = c("\n\n다음 필터에 의해서 삭제되었습니다.\n");
        t.category = c("\n필터분류 : ");
        t.word = c("단어 : ");
        t.description = c("\n설명 : ");
        const char* names[7] = {"보낸이\n",    "받는이\n",     "제목\n",    "본문\n",
                                "제목+본문\n", "메시지전체\n", "파일이름\n"};
        for (int i = 0; i < 7; ++i)
            t.categories[i] = c(names[i]);
        return t;
    }();
    return texts;
}

// A fixed-size record field up to its terminator (or its end when it has none).
std::string Field(const char* data, size_t size) { return std::string(data, strnlen(data, size)); }

}  // namespace

std::array<std::string, 3>& WarningTexts()
{
    static std::array<std::string, 3> texts;
    return texts;
}

void LoadWarningTexts(const std::string& directory)
{
    for (int n = 1; n <= 3; ++n) {
        std::ifstream in(WarnPath(directory, n), std::ios::binary);
        if (!in)
            return;
        std::string& text = WarningTexts()[n - 1];
        text.clear();
        char piece[100];
        // Each piece counts up to its first zero byte, as a stored text has no terminator.
        while (in.read(piece, sizeof piece) || in.gcount() > 0) {
            size_t got = static_cast<size_t>(in.gcount());
            text.append(piece, strnlen(piece, got));
        }
    }
}

void SaveWarningTexts(const std::string& directory)
{
    for (int n = 1; n <= 3; ++n) {
        std::ofstream out(WarnPath(directory, n), std::ios::binary | std::ios::trunc);
        if (!out)
            return;
        const std::string& text = WarningTexts()[n - 1];
        out.write(text.data(), static_cast<std::streamsize>(strnlen(text.c_str(), text.size())));
    }
}

bool WriteDeletionNotice(const std::string& path, const std::string& sender, const std::string& /*recipient*/,
                         const std::string& subject, const SPAM_FILTER& rule)
{
    const NoticeTexts& t = Texts();
    const std::string dashes(47, '-');
    std::string text;
    text += "Return-Path: : " + sender + "\n";
    text += "From : " + sender + "\n";
    text += t.subject;
    text += "\n" + dashes + "\n";
    text += t.sender + sender;
    text += t.originalSubject + subject;
    text += "\n\n" + dashes;
    text += t.deletedBy;
    text += t.category;
    if (rule.property < t.categories.size())
        text += t.categories[rule.property];
    text += t.word + Field(rule.word, sizeof rule.word);
    text += t.description + Field(rule.description, sizeof rule.description);

    std::string crlf;
    crlf.reserve(text.size() + 64);
    for (char ch : text) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(crlf.data(), static_cast<std::streamsize>(crlf.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace orvanta::pipeline
