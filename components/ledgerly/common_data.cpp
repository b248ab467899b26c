#include "components/ledgerly/common_data.h"

#include "components/almanac/update_address.h"
#include "components/toolwick/spam_util.h"

void CCommonData::GetUpdateURL(char* buffer, int)
{
    CSpamUtil::STRNCPY(buffer, almanac::UpdateURL().c_str(), almanac::kUpdateURLSize);
}
