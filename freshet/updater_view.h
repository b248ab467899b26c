#pragma once

#include <string>

// What the updater's work shows and asks: the dialog implements it with widgets, a run without
// a display with lines on standard output. Texts are UTF-8.
namespace freshet {

enum class Bar {
    kOverall,  // files fetched of the files to fetch
    kFile,     // the current file, in hundreds of bytes
};

class UpdaterView {
public:
    virtual ~UpdaterView() = default;

    // Called from the worker thread; each returns without waiting for the window, except
    // ShowMessage.
    virtual void SetStatus(const std::string& text) = 0;
    virtual void ShowBars(bool shown) = 0;
    // Sets the bar's range to 0..maximum and its position to 0.
    virtual void SetBarRange(Bar bar, int maximum) = 0;
    virtual void SetBarPosition(Bar bar, int position) = 0;
    // A message box with an OK button; returns once it was acknowledged.
    virtual void ShowMessage(const std::string& text) = 0;
    // The work is over: the button now reads "확인".
    virtual void WorkOver() = 0;

    // Called on the window's thread when the button is pressed while the work runs: the
    // question whether to cancel. True for OK.
    virtual bool AskCancel() = 0;
};

}  // namespace freshet
