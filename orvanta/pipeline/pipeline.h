#pragma once

// The incoming-mail filtering pipeline: the long-lived filter sets, the examination the POP3
// proxy runs when the real server accepts a log-in, and the spam-box feedback that arrives
// from the IMAP server as WM_IMAPMESG.
//
// Wiring at start, in this order:
//   CreateFilterSets(mainWindow, paths.dataDirectory, paths.storeDirectory);  // after LoadSettings
//   pop3Proxy->SetExaminer(orvanta::pipeline::Examine);
//   EnsureInbox();
// and in the main window's procedure:
//   case WM_IMAPMESG: return orvanta::pipeline::OnImapMessage(wParam);

#include <functional>
#include <string>

#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/proxy/proxy_mesg.h"
#include "platform/window.h"

class CPop3Client;

namespace orvanta::pipeline {

// Everything one examination works with.
struct PipelineContext {
    platform::HWND window = nullptr;   // the main window (busy indication); may be null
    std::string dataDirectory;         // ends in '/': "temp.mail", the filter files
    std::string storeDirectory;        // the store's copy of the data directory
    std::string htmlFooter;            // body of the part added to stored multipart/mixed spam
    FilterSets* sets = nullptr;
};

// Calls into the user interface; each may be empty (headless).
struct UiHooks {
    std::function<void()> examinationStarted;   // the tray icon starts blinking
    std::function<void()> examinationEnded;     // normal icon again
    std::function<void()> refreshHitCounts;     // the private-filter and pass-filter pages
    std::function<void()> hideMainWindow;
    // The prompts of "Auto_Spam" / "Auto_Pass" 0: true to add. Without a prompt (headless)
    // the question counts as unanswered and nothing is added.
    std::function<bool(const std::string& from, const std::string& mailbox)> askBlock;
    std::function<bool(const std::string& from)> askPass;
};
void SetUiHooks(UiHooks hooks);

// Creates the program's online and private block sets, program filter and pass set from the
// data directory, fetches the HTML footer, and has SaveSettings write the pass and private
// sets. Called once at start; a second call replaces the sets (tests).
void CreateFilterSets(platform::HWND mainWindow, const std::string& dataDirectory,
                      const std::string& storeDirectory);
// Makes sure the store folder "INBOX" exists. False when it could not be created.
bool EnsureInbox();
// The program's filter sets (null before CreateFilterSets) and its context.
FilterSets* Filters();
PipelineContext Context();

// The examination of new mail for CPop3Proxy::SetExaminer: fills `list` with the messages
// offered to the mail client; 1 done, 0 failed (LIST refused).
int Examine(CPop3Client& client, ProxyMesgList& list);
int Examine(const PipelineContext& context, CPop3Client& client, ProxyMesgList& list);

// The main window's WM_IMAPMESG: wParam points to an IMAPMESG.
platform::LRESULT OnImapMessage(platform::WPARAM wParam);

// Spam-box feedback, by "Auto_Spam" / "Auto_Pass" (0 ask, 1 add, 2 nothing). True when a
// rule or entry was added. The lists reach their files with the next SaveSettings.
bool AddBlockFilterFromClient(const char* from, const char* mailbox);
bool AddPassFilterFromClient(const char* from);

}  // namespace orvanta::pipeline
