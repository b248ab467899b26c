#include "components/almanac/program_info.h"

#include <string>

#include "components/almanac/update_address.h"
#include "components/toolwick/spam_util.h"
#include "platform/codepage.h"

namespace {

// The footers as written (UTF-8); callers receive them in CP949, converted once.
constexpr const char kTextFooterUtf8[] = "\r\n"
                                         "-----------------------------------------------\r\n"
                                         "이 안내 메일은 Orvanta 스팸 차단 프로그램이 보냈습니다.\r\n"
                                         "스팸으로 분류된 메일은 Orvanta의 스팸 보관함에서 확인할 수 있습니다.\r\n";

constexpr const char kHtmlFooterUtf8[] =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-kr\">"
    "</head><body>\r\n"
    "<p style=\"font-size:9pt;color:#666666\">"
    "이 메일은 Orvanta 스팸 차단 프로그램이 스팸으로 분류하여 보관한 메일입니다.<br>\r\n"
    "첨부 파일을 열기 전에 보낸 사람을 꼭 확인하십시오.</p>\r\n"
    "</body></html>";

// Both footers go into 1000-byte buffers.
constexpr long kFooterSize = 1000;

const std::string& TextFooter()
{
    static const std::string text = platform::Utf8ToCp949(kTextFooterUtf8);
    return text;
}

const std::string& HtmlFooter()
{
    static const std::string text = platform::Utf8ToCp949(kHtmlFooterUtf8);
    return text;
}

}  // namespace

void CProgramInfo::GetTEXTFooter(char* buffer, int) { CSpamUtil::STRNCPY(buffer, TextFooter().c_str(), kFooterSize); }

void CProgramInfo::GetHTMLFooter(char* buffer, int) { CSpamUtil::STRNCPY(buffer, HtmlFooter().c_str(), kFooterSize); }

void CProgramInfo::GetUpdateURL(char* buffer, int)
{
    CSpamUtil::STRNCPY(buffer, almanac::UpdateURL().c_str(), almanac::kUpdateURLSize);
}
