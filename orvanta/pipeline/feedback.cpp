#include "orvanta/pipeline/feedback.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <strings.h>

#include "harborage/folder_store.h"
#include "harborage/imap_mesg.h"
#include "orvanta/core/front_end.h"
#include "orvanta/core/log.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "orvanta/pipeline/learning_step.h"
#include "platform/codepage.h"
#include "sievelet/sievelet.h"
#include "winnow/winnow.h"

namespace orvanta::pipeline {
namespace {

// "added from the mail program", as the user sees it in the lists.
const std::string& BlockDescription()
{
    static const std::string text = platform::Utf8ToCp949("MUA에서추가");
    return text;
}

const std::string& PassDescription()
{
    static const std::string text = platform::Utf8ToCp949("메일프로그램에서추가");
    return text;
}

// The text as the list field keeps it (the lists cut longer texts to their fields).
std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size - 1)); }

// What "Auto_*" makes of the sender's address: 1 the address itself; 0 what the user chose
// in the prompt, its surrounding blanks removed (nothing for "추가안함", no answer or an empty
// text); 2 nothing.
template <typename Ask>
std::optional<std::string> Chosen(int mode, const char* from, Ask ask)
{
    if (mode == 1)
        return std::string(from);
    if (mode != 0)
        return std::nullopt;
    std::optional<std::string> text = ask();
    if (!text)
        return std::nullopt;
    const size_t first = text->find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    return text->substr(first, text->find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

bool SpamBoxFeedback::AddBlockFilterFromClient(const char* from, const char* mailbox)
{
    if (!from || !*from)
        return false;
    const std::string folder = MapInboxName(mailbox ? mailbox : "");
    std::optional<std::string> chosen =
        Chosen(GetSetting(IntSetting::AutoSpam), from, [&] { return frontEnd_.AskAddBlockRule(from, folder); });
    if (!chosen)
        return false;

    std::string word = Field(chosen->c_str(), SPAM_WORD_SIZE);
    CSpamFilter& priv = *sets_.priv;
    std::lock_guard guard(priv);
    for (int i = 0; i < priv.GetSize(); ++i) {
        const SPAM_FILTER* rule = priv.GetSpamFilter(i);
        if (rule && rule->property == SPAM_PROPERTY_SENDER && strcasecmp(rule->word, word.c_str()) == 0)
            return false;
    }
    // Made as the private filter page makes its rules.
    priv.AddSpamFilter(true, SPAM_LEVEL_LOW, SPAM_PROPERTY_SENDER, 0, 0, word.c_str(), folder.c_str(),
                       BlockDescription().c_str(), SPAM_ACTION_STORE);
    LogUtf8("Added a private block rule for " + word + " (filed by the mail program).");
    return true;
}

bool SpamBoxFeedback::AddPassFilterFromClient(const char* from)
{
    if (!from || !*from)
        return false;
    std::optional<std::string> chosen =
        Chosen(GetSetting(IntSetting::AutoPass), from, [&] { return frontEnd_.AskAddPassEntry(from); });
    if (!chosen)
        return false;

    std::string address = Field(chosen->c_str(), PASS_ADDRESS_SIZE);
    CPassFilter& pass = *sets_.pass;
    std::lock_guard guard(pass);
    for (int i = 0; i < pass.GetSize(); ++i) {
        const PASS_FILTER* entry = pass.GetPassFilter(i);
        if (entry && strcasecmp(entry->address, address.c_str()) == 0)
            return false;
    }
    pass.AddPassFilter(address.c_str(), PassDescription().c_str());
    LogUtf8("Added a pass entry for " + address + " (flag cleared in the mail program).");
    return true;
}

void SpamBoxFeedback::Learn(const char* path, bool spam)
{
    if (!learner_ || !path || !*path || GetSetting(IntSetting::UseLearn) == 0)
        return;
    const std::string text = ReadForLearning(path);
    if (text.empty())
        return;
    winnow::TrainOutcome outcome = learner_->Train(text, spam ? winnow::Label::Spam : winnow::Label::Ham);
    if (outcome == winnow::TrainOutcome::Failed)
        LogUtf8("The learning filter could not record the message: " + learner_->Error());
    else if (outcome == winnow::TrainOutcome::Moved)
        LogUtf8(spam ? "The learning filter moved a message from ham to spam (filed by the mail program)."
                     : "The learning filter moved a message from spam to ham (flag cleared in the mail program).");
    else if (outcome == winnow::TrainOutcome::Trained)
        LogUtf8(spam ? "The learning filter trained a message as spam (filed by the mail program)."
                     : "The learning filter trained a message as ham (flag cleared in the mail program).");
}

platform::LRESULT SpamBoxFeedback::OnImapMessage(platform::WPARAM wParam)
{
    const IMAPMESG* message = reinterpret_cast<const IMAPMESG*>(wParam);
    if (!message)
        return 0;
    std::string command = CIMAPFolder::DecodeFolderName(message->command ? message->command : "");
    std::string mailbox = CIMAPFolder::DecodeFolderName(message->mailbox ? message->mailbox : "");
    const char* from = message->from ? message->from : "";

    frontEnd_.HideMainWindow();

    if (strcasecmp(command.c_str(), "APPEND") == 0) {
        AddBlockFilterFromClient(from, mailbox.c_str());
        Learn(message->path, true);
    } else if (strcasecmp(command.c_str(), "SPAM") == 0 && strcasecmp(mailbox.c_str(), "PASS") == 0) {
        AddPassFilterFromClient(from);
        Learn(message->path, false);
    }
    return 0;
}

}  // namespace orvanta::pipeline
