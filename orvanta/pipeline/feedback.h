#pragma once

#include "platform/window.h"

namespace orvanta {
class FrontEnd;
}

namespace winnow {
class CLearningFilter;
}

namespace orvanta::pipeline {

struct FilterSets;

// Spam-box feedback from the IMAP server (WM_IMAPMESG, on the main window's thread): a
// message the user files into a store folder makes its sender a private block rule; a
// stored message whose flag the user clears makes its sender a pass entry. "Auto_Spam" and
// "Auto_Pass" decide: 0 ask (the front end's prompt), 1 add, 2 nothing. The lists reach their
// files with the next SaveSettings.
//
// With "USE_LEARN" on, the learning filter (when given) learns from the same two acts: a
// message filed into the store is trained as spam, one whose flag is cleared is taken out of
// the spam training and trained as ham.
class SpamBoxFeedback {
public:
    SpamBoxFeedback(FilterSets& sets, FrontEnd& frontEnd, winnow::CLearningFilter* learner = nullptr)
        : sets_(sets), frontEnd_(frontEnd), learner_(learner)
    {
    }

    // The main window's WM_IMAPMESG: wParam points to an IMAPMESG.
    platform::LRESULT OnImapMessage(platform::WPARAM wParam);

    // True when a rule or an entry was added.
    bool AddBlockFilterFromClient(const char* from, const char* mailbox);
    bool AddPassFilterFromClient(const char* from);

private:
    void Learn(const char* path, bool spam);

    FilterSets& sets_;
    FrontEnd& frontEnd_;
    winnow::CLearningFilter* learner_;
};

}  // namespace orvanta::pipeline
