#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "freshet/console_view.h"
#include "freshet/updater.h"
#include "freshet/updater_dialog.h"

namespace {

bool HasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

}  // namespace

// The updater takes no arguments; it is started by the main program (or the user) and ends
// by starting the main program again.
int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    freshet::FreshetPaths paths = freshet::FindPaths();
    auto start = [&paths] { freshet::StartMainProgram(paths); };

    if (!HasDisplay()) {
        // The same work, reported on standard output; it ends as the window's close would.
        freshet::ConsoleView view;
        freshet::Updater updater(view, paths, start);
        std::printf("%s\n", updater.Open().c_str());
        std::fflush(stdout);
        updater.WaitForWork();
        updater.PressButton();
        return 0;
    }

    QApplication app(argc, argv);
    freshet::UpdaterDialog dialog;
    freshet::Updater updater(dialog, paths, start);
    dialog.Attach(&updater);
    dialog.exec();
    return 0;
}
