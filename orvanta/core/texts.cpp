#include "orvanta/core/texts.h"

#include <array>

#include "platform/codepage.h"

namespace orvanta::text {
namespace {

// UTF-8 here; order follows Id.
constexpr std::array<const char*, static_cast<size_t>(Id::Count)> kUtf8 = {
    "Proxy 서버를 실행할 수 없었습니다.",
    "Pop3 Proxy 서버를 실행할 수 없었습니다.",
    "IMAP 서버를 실행할 수 없었습니다.",
    "Orvanta",
    "프로그램이 실행중입니다. \n지금 종료 하면 문제가 발생할 수 있습니다.\n종료하시겠습니까?",
    "프로그램을 종료하시겠습니까?",
    "윈속을 초기화 할수 없었습니다.",
    "서버를 종료했습니다.",
    "서버가 이미 동작중입니다.",
    "소켓을 생성할수 없었습니다.",
    "포트를 bind할수 없었습니다.",
    "Listener을 할수 없었습니다.",
    "WaitThread를 실행할수 없었습니다.",
    "서버를 실행했습니다.",
    "접속을 종료했습니다.",
    "EXPRESS 계정을 Orvanta에 맞게 수정하였습니다.\n변동 사항을 적용하려면 EXPRESS 를 재실행 해야 합니다.",
    "EXPRESS 계정들의 설정을 복구 했습니다.\n변동 사항을 적용하려면 EXPRESS 를 재실행 해야 합니다.",
    "파일이 존재하지 않아서, 업데이트를 할수 없습니다.",
};

}  // namespace

const std::string& Get(Id id)
{
    static const std::array<std::string, kUtf8.size()> cp949 = [] {
        std::array<std::string, kUtf8.size()> out;
        for (size_t i = 0; i < kUtf8.size(); ++i)
            out[i] = platform::Utf8ToCp949(kUtf8[i]);
        return out;
    }();
    return cp949.at(static_cast<size_t>(id));
}

}  // namespace orvanta::text
