#include "orvanta/update/online_notice.h"

#include <string>
#include <strings.h>
#include <vector>

#include "orvanta/core/front_end.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "platform/http.h"

namespace orvanta::update {

bool ShowOnlineNotice(const UpdateEnvironment& env, FrontEnd& frontEnd)
{
    // A page that cannot be read leaves no lines: the window then comes up empty.
    std::vector<std::string> lines;
    std::string error;
    if (!platform::HttpReadLines(env.webUrl + kNoticePath, &lines, &error))
        LogUtf8("The notice page was not read (" + error + ").");
    if (!lines.empty() && strcasecmp(lines[0].c_str(), "NOTICE") != 0)
        return false;

    if (lines.size() >= 2) {
        const std::string& noticeDay = lines[1];
        const std::string today = LocalDateText(env.now());
        if (!(GetSetting(StringSetting::NoticeDay) < noticeDay || GetSetting(StringSetting::ReadDay) == today))
            return false;
        SetSetting(StringSetting::ReadDay, today);
        SetSetting(StringSetting::NoticeDay, noticeDay);
    }

    std::string text;
    for (size_t i = 2; i < lines.size(); ++i)
        text += "\r\n" + lines[i];
    frontEnd.ShowNotice(text);
    return true;
}

}  // namespace orvanta::update
