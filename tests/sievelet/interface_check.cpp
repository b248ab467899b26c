// Built outside the project's build settings: only -I <project root> and -lsievelet.
#include "sievelet/sievelet.h"

int main()
{
    SPAM_FILTER rule{};
    CProgramFilter program;
    CSpamFilter list("/nonexistent/dir/private.flt");
    CPassFilter* pass = nullptr;
    (void)pass;
    list.AddSpamFilter(true, 0, 2, 0, 0, "word", "INBOX", "", 0);
    return (list.GetSize() == 1 && SPAM_FILTER::GetPropertyEngName(2)[0] == 'S' &&
            CProgramFilter::GetSignatureCount() == 59 && rule.fid == 0 &&
            program.DoSpamContentFiltering(nullptr, nullptr, nullptr))
               ? 0
               : 1;
}
