#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>

#include "unmoor/console.h"
#include "unmoor/removal.h"
#include "unmoor/uninstall_dialog.h"
#include "unmoor/uninstaller.h"

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

int Usage()
{
    std::fprintf(stderr, "usage: unmoor [--yes]\n"
                         "  With a display: asks in its window. Without one: says what it would do and\n"
                         "  changes nothing, unless --yes answers OK (also with a display).\n");
    return 2;
}

}  // namespace

// Started from the menu entry without arguments. --yes is for a run without a display;
// --remove-files is the removal of a `make install`, which the uninstaller starts itself.
int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    bool yes = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--yes") == 0) {
            yes = true;
        } else if (std::strcmp(argv[i], unmoor::kRemoveFilesOption) == 0 && i + 1 < argc && argc == 3) {
            return unmoor::RemoveInstalledFiles(argv[i + 1]) == 0 ? 0 : 1;
        } else {
            return Usage();
        }
    }

    unmoor::Uninstaller uninstaller(unmoor::ExecutableDirectory());
    if (yes || !HasDisplay())
        return unmoor::RunWithoutWindow(uninstaller, yes);

    QApplication app(argc, argv);
    if (unmoor::MainProgramRunning()) {
        unmoor::ShowExitFirst();
        return 1;
    }
    unmoor::UninstallDialog dialog(uninstaller);
    dialog.exec();
    return 0;
}
