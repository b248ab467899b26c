// Spam-box feedback: a message the user files into a store folder makes its sender a private
// block rule; a stored message whose flag the user clears makes its sender a pass entry.
#include <cstring>
#include <mutex>
#include <strings.h>

#include "harborage/folder_store.h"
#include "harborage/imap_mesg.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/pipeline.h"
#include "orvanta/pipeline/pipeline_state.h"
#include "platform/codepage.h"
#include "sievelet/sievelet.h"

namespace orvanta::pipeline {
namespace {

// "added from the mail program", as the user sees it in the lists.
const std::string& BlockDescription() {
    static const std::string text = platform::Utf8ToCp949("MUA에서추가");
    return text;
}

const std::string& PassDescription() {
    static const std::string text = platform::Utf8ToCp949("메일프로그램에서추가");
    return text;
}

// The text as the list field keeps it (the lists cut longer texts to their fields).
std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size - 1)); }

// "Auto_*" 1 adds, 2 does nothing, 0 asks; an unanswered prompt adds nothing.
bool Allowed(int mode, const std::function<bool()>& ask) {
    if (mode == 1) return true;
    if (mode == 0) return ask && ask();
    return false;
}

}  // namespace

bool AddBlockFilterFromClient(const char* from, const char* mailbox) {
    FilterSets* sets = Filters();
    if (!sets || !from || !*from) return false;
    std::string folder = mailbox ? mailbox : "";
    UiHooks hooks = detail::Hooks();
    std::function<bool()> ask;
    if (hooks.askBlock) ask = [&] { return hooks.askBlock(from, folder); };
    if (!Allowed(GetSetting(IntSetting::AutoSpam), ask)) return false;

    std::string word = Field(from, SPAM_WORD_SIZE);
    std::lock_guard guard(*sets->priv);
    for (int i = 0; i < sets->priv->GetSize(); ++i) {
        const SPAM_FILTER* rule = sets->priv->GetSpamFilter(i);
        if (rule && rule->property == SPAM_PROPERTY_SENDER && strcasecmp(rule->word, word.c_str()) == 0) return false;
    }
    sets->priv->AddSpamFilter(false, SPAM_LEVEL_LOW, SPAM_PROPERTY_SENDER, 0, 0, word.c_str(), folder.c_str(),
                              BlockDescription().c_str(), SPAM_ACTION_STORE);
    LogUtf8("Added a private block rule for " + word + " (filed by the mail program).");
    return true;
}

bool AddPassFilterFromClient(const char* from) {
    FilterSets* sets = Filters();
    if (!sets || !from || !*from) return false;
    UiHooks hooks = detail::Hooks();
    std::function<bool()> ask;
    if (hooks.askPass) ask = [&] { return hooks.askPass(from); };
    if (!Allowed(GetSetting(IntSetting::AutoPass), ask)) return false;

    std::string address = Field(from, PASS_ADDRESS_SIZE);
    std::lock_guard guard(*sets->pass);
    for (int i = 0; i < sets->pass->GetSize(); ++i) {
        const PASS_FILTER* entry = sets->pass->GetPassFilter(i);
        if (entry && strcasecmp(entry->address, address.c_str()) == 0) return false;
    }
    sets->pass->AddPassFilter(address.c_str(), PassDescription().c_str());
    LogUtf8("Added a pass entry for " + address + " (flag cleared in the mail program).");
    return true;
}

platform::LRESULT OnImapMessage(platform::WPARAM wParam) {
    const IMAPMESG* message = reinterpret_cast<const IMAPMESG*>(wParam);
    if (!message) return 0;
    std::string command = CIMAPFolder::DecodeFolderName(message->command ? message->command : "");
    std::string mailbox = CIMAPFolder::DecodeFolderName(message->mailbox ? message->mailbox : "");
    const char* from = message->from ? message->from : "";

    UiHooks hooks = detail::Hooks();
    if (hooks.hideMainWindow) hooks.hideMainWindow();

    if (strcasecmp(command.c_str(), "APPEND") == 0)
        AddBlockFilterFromClient(from, mailbox.c_str());
    else if (strcasecmp(command.c_str(), "SPAM") == 0 && strcasecmp(mailbox.c_str(), "PASS") == 0)
        AddPassFilterFromClient(from);
    return 0;
}

}  // namespace orvanta::pipeline
