// orvanta-learn: trains the learning filter from existing mail folders, scores a message and
// shows the store's figures, from a shell.
//
//   orvanta-learn [--store FILE | --home DIR] spam SOURCE...    train as spam
//   orvanta-learn [--store FILE | --home DIR] ham SOURCE...     train as ham
//   orvanta-learn [--store FILE | --home DIR] untrain SOURCE... take the training out again
//   orvanta-learn [--store FILE | --home DIR] score FILE [N]    the verdict and N strongest tokens
//   orvanta-learn [--store FILE | --home DIR] figures           what the store holds
//
// A SOURCE is an mbox file, a maildir, a directory of message files or one message file. The
// store is the program's own (<home>/user/learn.db; the home is --home, $ORVANTA_HOME or the
// directory of this program) unless --store names another.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "orvanta/core/paths.h"
#include "tools/orvanta-learn/mail_sources.h"
#include "winnow/winnow.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: orvanta-learn [--store FILE | --home DIR] spam|ham|untrain SOURCE...\n"
                         "       orvanta-learn [--store FILE | --home DIR] score FILE [N]\n"
                         "       orvanta-learn [--store FILE | --home DIR] figures\n");
    return 2;
}

const char* Name(winnow::Judgement j)
{
    switch (j) {
    case winnow::Judgement::Spam: return "spam";
    case winnow::Judgement::Ham: return "ham";
    default: return "unsure";
    }
}

int Train(winnow::CLearningFilter& filter, const std::string& verb, const std::vector<std::string>& sources)
{
    int status = 0;
    for (const std::string& source : sources) {
        long trained = 0, already = 0, moved = 0, failed = 0, untrained = 0;
        filter.BeginBatch();
        bool readable = orvanta::learn::ReadMailSource(source, [&](const std::string& message) {
            if (verb == "untrain") {
                (filter.Untrain(message) ? untrained : already)++;
                return;
            }
            switch (filter.Train(message, verb == "spam" ? winnow::Label::Spam : winnow::Label::Ham)) {
            case winnow::TrainOutcome::Trained: ++trained; break;
            case winnow::TrainOutcome::Already: ++already; break;
            case winnow::TrainOutcome::Moved: ++moved; break;
            case winnow::TrainOutcome::Failed: ++failed; break;
            }
        });
        if (!filter.EndBatch()) {
            std::fprintf(stderr, "orvanta-learn: %s: the store could not be written: %s\n", source.c_str(),
                         filter.Error().c_str());
            status = 1;
            continue;
        }
        if (!readable) {
            std::fprintf(stderr, "orvanta-learn: %s: cannot be read\n", source.c_str());
            status = 1;
            continue;
        }
        if (verb == "untrain")
            std::printf("%s: %ld untrained, %ld not trained\n", source.c_str(), untrained, already);
        else
            std::printf("%s: %ld trained as %s, %ld trained so before, %ld moved from the other kind, %ld failed\n",
                        source.c_str(), trained, verb.c_str(), already, moved, failed);
        if (failed > 0)
            status = 1;
    }
    return status;
}

int Score(winnow::CLearningFilter& filter, const std::string& path, size_t shown)
{
    std::vector<std::string> messages;
    if (!orvanta::learn::ReadMailSource(path, [&](const std::string& m) { messages.push_back(m); }) ||
        messages.empty()) {
        std::fprintf(stderr, "orvanta-learn: %s: no message to score\n", path.c_str());
        return 1;
    }
    for (const std::string& message : messages) {
        winnow::Classification c = filter.Classify(message);
        std::printf("%s %.4f%s\n", Name(c.judgement), c.indicator,
                    c.trained ? "" : " (too little training: nothing is judged spam yet)");
        for (size_t i = 0; i < c.strongest.size() && i < shown; ++i) {
            const winnow::TokenWeight& w = c.strongest[i];
            std::printf("  %.4f  spam %ld ham %ld  %s\n", w.probability, w.spam, w.ham, w.token.c_str());
        }
    }
    return 0;
}

int Figures(winnow::CLearningFilter& filter)
{
    winnow::StoreFigures f = filter.Figures();
    std::printf("spam messages %ld\nham messages %ld\ntokens %ld\nmessages remembered %ld\n", f.spamMessages,
                f.hamMessages, f.tokens, f.remembered);
    std::printf("passed messages waiting %ld\nsize %ju bytes\n", f.pending, f.fileBytes);
    std::printf("ready %s (at least %ld of each kind)\n", filter.Ready() ? "yes" : "no",
                winnow::CLearningFilter::kMinimumTraining);
    std::printf("consistent %s\n", filter.Consistent() ? "yes" : "no");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string store;
    std::string home;
    if (const char* env = std::getenv("ORVANTA_HOME"))
        home = env;
    while (args.size() >= 2 && (args[0] == "--store" || args[0] == "--home")) {
        (args[0] == "--store" ? store : home) = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return Usage();
    if (store.empty()) {
        orvanta::AppPaths paths = orvanta::MakeAppPaths(home);
        orvanta::CreateAppDirectories(paths);
        store = paths.dataDirectory + "learn.db";
    }
    winnow::CLearningFilter filter;
    if (!filter.Open(store)) {
        std::fprintf(stderr, "orvanta-learn: %s: %s\n", store.c_str(), filter.Error().c_str());
        return 1;
    }
    const std::string verb = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if ((verb == "spam" || verb == "ham" || verb == "untrain") && !rest.empty())
        return Train(filter, verb, rest);
    if (verb == "score" && (rest.size() == 1 || rest.size() == 2))
        return Score(filter, rest[0], rest.size() == 2 ? static_cast<size_t>(std::atoi(rest[1].c_str())) : 15);
    if (verb == "figures" && rest.empty())
        return Figures(filter);
    return Usage();
}
