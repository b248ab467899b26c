#include "orvanta/pipeline/filter_checks.h"

#include <mutex>

#include "orvanta/pipeline/filter_sets.h"
#include "parsewick/mail_header.h"
#include "sievelet/sievelet.h"

namespace orvanta::pipeline {

void FilterChecks::Spam(Verdict& verdict, const SPAM_FILTER& rule, const char* folder, int action)
{
    verdict.decided = true;
    verdict.spam = true;
    verdict.rule = rule;
    verdict.action = action;
    verdict.SetFolder(folder);
}

void FilterChecks::Header(CMailHeader& header, Verdict& verdict)
{
    if (settings_.usePass) {
        std::lock_guard guard(*sets_.pass);
        if (sets_.pass->DoPassFiltering(&header)) {
            verdict.decided = true;
            verdict.spam = false;
            return;
        }
    }
    SPAM_FILTER rule{};
    char folder[SPAM_FOLDER_SIZE] = "INBOX";
    int action = 0;
    if (settings_.usePrivate) {
        std::lock_guard guard(*sets_.priv);
        if (sets_.priv->DoSpamFiltering(rule, &header, folder, &action, settings_.filterPriority, true, true, true,
                                        true)) {
            Spam(verdict, rule, folder, action);
            return;
        }
    }
    if (settings_.useOnline) {
        std::lock_guard guard(*sets_.online);
        if (sets_.online->DoSpamFiltering(rule, &header, folder, &action, settings_.filterPriority,
                                          settings_.filterSender, settings_.filterSubject, settings_.filterContent,
                                          settings_.filterMesg))
            Spam(verdict, rule, "INBOX", action);
    }
}

void FilterChecks::Body(std::string& text, Verdict& verdict)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    SPAM_FILTER rule{};
    char folder[SPAM_FOLDER_SIZE] = "INBOX";
    int action = 0;
    if (settings_.usePrivate) {
        std::lock_guard guard(*sets_.priv);
        if (sets_.priv->DoSpamContentFiltering(rule, text.c_str(), folder, &action, settings_.filterPriority, true,
                                               true, true)) {
            Spam(verdict, rule, folder, action);
            return;
        }
    }
    if (settings_.useOnline) {
        std::lock_guard guard(*sets_.online);
        if (sets_.online->DoSpamContentFiltering(rule, text.c_str(), folder, &action, settings_.filterPriority,
                                                 settings_.filterSubject, settings_.filterContent,
                                                 settings_.filterMesg))
            Spam(verdict, rule, "INBOX", action);
    }
}

void FilterChecks::FileName(const char* name, Verdict& verdict)
{
    if (!settings_.filterFileName || name == nullptr)
        return;
    SPAM_FILTER rule{};
    char folder[SPAM_FOLDER_SIZE] = "INBOX";
    int action = 0;
    if (settings_.usePrivate) {
        std::lock_guard guard(*sets_.priv);
        if (sets_.priv->DoFileFiltering(rule, name, folder, &action)) {
            Spam(verdict, rule, folder, action);
            return;
        }
    }
    if (settings_.useOnline) {
        std::lock_guard guard(*sets_.online);
        if (sets_.online->DoFileFiltering(rule, name, folder, &action))
            Spam(verdict, rule, "INBOX", action);
    }
}

void FilterChecks::Program(CMailHeader* headers, int count, Verdict& verdict)
{
    if (settings_.filterPriority != 2 || count <= 0)
        return;
    SPAM_FILTER rule{};
    char folder[SPAM_FOLDER_SIZE] = "INBOX";
    int action = 0;
    if (sets_.program->DoSpamFiltering(rule, headers, count, folder, &action))
        Spam(verdict, rule, "INBOX", action);
}

}  // namespace orvanta::pipeline
