#pragma once

// The library's report and message texts, in CP949 as they are shown and logged.
namespace fetchling_text {

// "소켓을 생성할수 없었습니다."
inline constexpr char kNoSocket[] =
    "\xBC\xD2\xC4\xCF\xC0\xBB \xBB\xFD\xBC\xBA\xC7\xD2\xBC\xF6 \xBE\xF8\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.";
// "주소를 얻어올수 없었습니다."
inline constexpr char kNoAddress[] =
    "\xC1\xD6\xBC\xD2\xB8\xA6 \xBE\xF2\xBE\xEE\xBF\xC3\xBC\xF6 \xBE\xF8\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.";
// "POP3Client 의 접속을 끊었습니다."
inline constexpr char kClosed[] =
    "POP3Client \xC0\xC7 \xC1\xA2\xBC\xD3\xC0\xBB \xB2\xF7\xBE\xFA\xBD\xC0\xB4\xCF\xB4\xD9.";
// "CPop3TranCommand Extract의 strncpy 함수 에러발생"
inline constexpr char kExtractCopyError[] =
    "CPop3TranCommand Extract\xC0\xC7 strncpy \xC7\xD4\xBC\xF6 \xBF\xA1\xB7\xAF\xB9\xDF\xBB\xFD";
// "CPop3TranCommand Extract의 dest 함수 에러발생"
inline constexpr char kExtractDestError[] =
    "CPop3TranCommand Extract\xC0\xC7 dest \xC7\xD4\xBC\xF6 \xBF\xA1\xB7\xAF\xB9\xDF\xBB\xFD";

}  // namespace fetchling_text
