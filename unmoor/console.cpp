#include "unmoor/console.h"

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "unmoor/texts.h"

namespace unmoor {

namespace {

void Line(const std::string& text) { std::printf("%s\n", text.c_str()); }

}  // namespace

int RunWithoutWindow(Uninstaller& uninstaller, bool answerOk)
{
    if (MainProgramRunning()) {
        Line(std::string("[") + texts::kMessageTitle + "] " + texts::kExitFirst);
        std::fflush(stdout);
        return 1;
    }
    Line(texts::kTitle);
    if (!answerOk) {
        Line(texts::kThanks);
        Line(texts::kQuestion);
        Line(std::string("Without a display nothing is changed; \"unmoor --yes\" answers ") + texts::kOk +
             " and would:");
        for (const std::string& step : uninstaller.Plan())
            Line("  " + step);
        std::fflush(stdout);
        return 0;
    }
    Outcome outcome = uninstaller.Accept();
    for (const std::string& name : outcome.spamBoxesDeleted)
        Line("deleted the spam-box account " + platform::Cp949ToUtf8(name));
    for (const std::string& name : outcome.accountsRestored)
        Line("restored the POP3 account " + platform::Cp949ToUtf8(name));
    for (const std::string& name : outcome.accountsKept)
        Line("left the POP3 account " + platform::Cp949ToUtf8(name) + " with its backups (see the log)");
    // A removal that did not start is not reported; the log has it.
    if (outcome.removalStarted)
        Line("started the removal: " + outcome.removal->shown);
    else if (!outcome.removal)
        Line("nothing to remove: " + uninstaller.ProgramDirectory().string() + " holds no installation");
    std::fflush(stdout);
    return 0;
}

}  // namespace unmoor
