// The IMAP server over a data directory with the pipeline's feedback behind it, for the
// integration tests: loads the settings ($ORVANTA_REGISTRY), creates the filter sets of the
// directory in argv[1], serves the store on a port of its own, prints "PORT n" once
// listening, and when its standard input closes saves the pass and private lists and ends.
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "harborage/harborage.h"
#include "orvanta/core/headless_front_end.h"
#include "orvanta/core/settings.h"
#include "orvanta/pipeline/feedback.h"
#include "orvanta/pipeline/filter_sets.h"
#include "orvanta/pipeline/folder_choice.h"
#include "platform/window.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: pipeline_imap_host DATA_DIR\n");
        return 2;
    }
    std::string root = argv[1];
    if (root.back() != '/')
        root += '/';
    orvanta::LoadSettings();
    orvanta::pipeline::FilterSets sets(root);
    orvanta::HeadlessFrontEnd frontEnd;
    orvanta::pipeline::SpamBoxFeedback feedback(sets, frontEnd);
    platform::HWND window = platform::CreateWindow(
        "", [&](platform::HWND, platform::UINT msg, platform::WPARAM w, platform::LPARAM) -> platform::LRESULT {
            if (msg == WM_IMAPMESG) {
                const IMAPMESG* m = reinterpret_cast<const IMAPMESG*>(w);
                std::printf("NOTIFY %s|%s|%s\n", m->command, m->mailbox, m->from);
                std::fflush(stdout);
                return feedback.OnImapMessage(w);
            }
            return 0;
        });
    orvanta::pipeline::EnsureInbox(root);

    CIMAPServer server(window, root.c_str(), true, true);
    server.IMAPInit();
    if (!server.Start("localhost", 0)) {
        std::fprintf(stderr, "cannot listen\n");
        return 1;
    }
    std::printf("PORT %d\n", server.GetBoundPort());
    std::fflush(stdout);
    std::thread watcher([window] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        platform::PostMessage(window, platform::WM_QUIT, 0, 0);
    });
    platform::RunMessageLoop();
    server.Close();
    server.IMAPUnInit();
    watcher.join();
    sets.Save();
    platform::DestroyWindow(window);
    return 0;
}
