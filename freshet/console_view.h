#pragma once

#include "freshet/updater_view.h"

namespace freshet {

// The updater without a display (as under a headless main program): status lines and message
// boxes go to standard output, one line each; the bars are not shown and nothing is asked.
class ConsoleView : public UpdaterView {
public:
    void SetStatus(const std::string& text) override;
    void ShowBars(bool) override {}
    void SetBarRange(Bar, int) override {}
    void SetBarPosition(Bar, int) override {}
    void ShowMessage(const std::string& text) override;
    void WorkOver() override {}
    // Not reached: without a display the button is pressed only once the work is over.
    bool AskCancel() override { return false; }
};

}  // namespace freshet
