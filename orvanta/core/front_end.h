#pragma once

#include <optional>
#include <string>
#include <vector>

// What the application frame needs from whoever shows the program to the user: the tray
// application with its windows, or the headless front end, which answers with log lines
// and with what the prompts' time-outs would answer. The servers and the pipeline never
// know which one runs.
//
// Every call comes on the main window's thread (its message loop), so a windowed front end
// may touch its widgets directly.
class CDebug;

namespace orvanta {

// The servers whose log lines the debug window shows, a tab each.
enum class DebugTab { Imap, Pop3, Smtp };

// The outgoing server the user picked for a mail client that needs authentication: an index
// into the servers offered, and whether to take it from now on without asking.
struct SmtpServerChoice {
    size_t index = 0;
    bool always = false;
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Start-up: the main window's pages, the tray menu and the tray icon ("Orvanta").
    virtual void CreateWindows() = 0;
    // Quit: the tray icon goes (only after a completed start-up).
    virtual void RemoveTrayIcon() = 0;
    // Runs the main window's message loop until the program ends; returns the exit code.
    virtual int RunMessageLoop() = 0;

    // An information box; both texts are CP949.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
    // A question with OK and Cancel; true for OK.
    virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;

    virtual void ShowMainWindow() = 0;
    virtual void HideMainWindow() = 0;

    // The notice window with the update service's notice of the day (CP949, lines joined
    // with CR LF; empty when the notice page could not be read).
    virtual void ShowNotice(const std::string& cp949Text) = 0;

    // The ten-second prompts of the spam-box feedback ("Auto_Spam" and "Auto_Pass" 0): the
    // text (CP949) the user chose to add, the address or its domain as edited; nothing for
    // "추가안함" or a prompt left unanswered.
    virtual std::optional<std::string> AskAddBlockRule(const std::string& from, const std::string& mailbox) = 0;
    virtual std::optional<std::string> AskAddPassEntry(const std::string& from) = 0;

    // The busy indication: every tick of timer 100 swaps the tray icon between busy and
    // normal; when an examination ends the normal icon comes back and the filter pages show
    // the new hit counts.
    virtual void SwapTrayIcon() = 0;
    virtual void ExaminationEnded() = 0;
    // The spam-box feedback may have added a rule or an entry: the filter pages show it.
    virtual void FiltersChanged() = 0;

    // In debug mode, the listener that shows a server's log lines in its tab of the debug
    // window; otherwise null, and the servers report to nobody. Asked once, before the
    // servers are made; the listener lives as long as the front end and may be called from
    // any thread.
    virtual CDebug* DebugListener(DebugTab /*tab*/) { return nullptr; }

    // The SMTP proxy's question which outgoing server to send through ("Orvanta - 메일보내기"),
    // over the account table's server names (CP949, at least one). Unlike the calls above it
    // comes on the SMTP proxy's thread and blocks that session until answered; nothing for
    // "취소", or when the program ends meanwhile. Headless, the first server, once.
    virtual std::optional<SmtpServerChoice> ChooseSmtpServer(const std::vector<std::string>& servers) = 0;
};

// The information box every part of the program shows: caption 61207 "Orvanta".
void ShowInformation(FrontEnd& frontEnd, const std::string& cp949);

}  // namespace orvanta
