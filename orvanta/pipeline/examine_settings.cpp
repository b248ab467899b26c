#include "orvanta/pipeline/examine_settings.h"

#include "orvanta/core/settings.h"

namespace orvanta::pipeline {

ExamineSettings ExamineSettings::Current()
{
    ExamineSettings s;
    s.usePass = GetSetting(IntSetting::UsePass) != 0;
    s.usePrivate = GetSetting(IntSetting::UsePrivate) != 0;
    s.useOnline = GetSetting(IntSetting::UseOnline) != 0;
    s.filterPriority = GetSetting(IntSetting::FilterPriority);
    s.filterSender = GetSetting(IntSetting::FilterSender) != 0;
    s.filterSubject = GetSetting(IntSetting::FilterSubject) != 0;
    s.filterContent = GetSetting(IntSetting::FilterContent) != 0;
    s.filterMesg = GetSetting(IntSetting::FilterMesg) != 0;
    s.filterFileName = GetSetting(IntSetting::FilterFileName) != 0;
    s.delLog = GetSetting(IntSetting::DelLog) != 0;
    s.delTerm = GetSetting(IntSetting::DelTerm);
    s.useWarn = GetSetting(IntSetting::UseWarn) != 0;
    s.selectWarn = GetSetting(IntSetting::SelectWarn);
    s.examSeconds = GetSetting(IntSetting::ExamSeconds);
    s.useLearn = GetSetting(IntSetting::UseLearn) != 0;
    return s;
}

}  // namespace orvanta::pipeline
