#include "sievelet/spam_filter_record.h"

#include <cstddef>

// Korean names as CP949 bytes: 낮음 보통 높음 / 보낸이 받는이 제목 본문 제목+본문 메시지전체 파일이름.
const char flag_name[2][SPAM_NAME_SIZE] = {"+", "-"};
const char priority_name[3][SPAM_NAME_SIZE] = {
    "\xB3\xB7\xC0\xBD",
    "\xBA\xB8\xC5\xEB",
    "\xB3\xF4\xC0\xBD",
};
const char priority_eng_name[3][SPAM_NAME_SIZE] = {"LOW", "MID", "HIGH"};
const char property_name[7][SPAM_NAME_SIZE] = {
    "\xBA\xB8\xB3\xBD\xC0\xCC",
    "\xB9\xDE\xB4\xC2\xC0\xCC",
    "\xC1\xA6\xB8\xF1",
    "\xBA\xBB\xB9\xAE",
    "\xC1\xA6\xB8\xF1+\xBA\xBB\xB9\xAE",
    "\xB8\xDE\xBD\xC3\xC1\xF6\xC0\xFC\xC3\xBC",
    "\xC6\xC4\xC0\xCF\xC0\xCC\xB8\xA7",
};
const char property_eng_name[7][SPAM_NAME_SIZE] = {
    "SENDER", "RECEIVER", "SUBJECT", "CONTENT", "SUBJECT+CONTENT", "ENTIRE", "FILENAME",
};

namespace {

template <size_t N>
const char* Lookup(const char (&table)[N][SPAM_NAME_SIZE], int index)
{
    if (index < 0 || static_cast<size_t>(index) >= N)
        return "";
    return table[index];
}

}  // namespace

const char* SPAM_FILTER::GetFlagName(int sign) { return Lookup(flag_name, sign); }
const char* SPAM_FILTER::GetPriorityName(int level) { return Lookup(priority_name, level); }
const char* SPAM_FILTER::GetPriorityEngName(int level) { return Lookup(priority_eng_name, level); }
const char* SPAM_FILTER::GetPropertyName(int property) { return Lookup(property_name, property); }
const char* SPAM_FILTER::GetPropertyEngName(int property) { return Lookup(property_eng_name, property); }
