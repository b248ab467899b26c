// A stand-alone host for the IMAP server, driven by the integration tests: it serves the
// store below argv[1] on a port of its own choosing, prints "PORT n" once listening, prints
// every notification it receives as "NOTIFY command|mailbox|detail|from" and every refusal
// as "EVENT text", and ends when its standard input closes.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "harborage/harborage.h"
#include "platform/window.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: imap_host STORE_ROOT [--no-make-folder] [--any-peer] [--password P] [--port N]\n");
        return 2;
    }
    std::string root = argv[1];
    if (root.back() != '/')
        root += '/';
    bool makeFolder = true, localOnly = true;
    int port = 0;
    std::string password;
    for (int i = 2; i < argc; ++i) {
        if (!strcmp(argv[i], "--no-make-folder"))
            makeFolder = false;
        else if (!strcmp(argv[i], "--any-peer"))
            localOnly = false;
        else if (!strcmp(argv[i], "--password") && i + 1 < argc)
            password = argv[++i];
        else if (!strcmp(argv[i], "--port") && i + 1 < argc)
            port = atoi(argv[++i]);
    }

    platform::HWND window = platform::CreateWindow(
        "", [](platform::HWND, platform::UINT msg, platform::WPARAM w, platform::LPARAM) -> platform::LRESULT {
            if (msg == WM_IMAPMESG) {
                const IMAPMESG* m = reinterpret_cast<const IMAPMESG*>(w);
                printf("NOTIFY %s|%s|%s|%s\n", m->command, m->mailbox, m->detail, m->from);
                fflush(stdout);
            }
            return 0;
        });

    CIMAPServer server(window, root.c_str(), localOnly, makeFolder);
    server.SetRemotePassword(password);
    server.SetEventLog([](const char* line) {
        printf("EVENT %s\n", line);
        fflush(stdout);
    });
    server.IMAPInit();
    if (!server.Start("localhost", port)) {
        fprintf(stderr, "cannot listen\n");
        return 1;
    }
    printf("PORT %d\n", server.GetBoundPort());
    fflush(stdout);

    std::thread watcher([window] {
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        platform::PostMessage(window, platform::WM_QUIT, 0, 0);
    });
    platform::RunMessageLoop();
    server.IMAPUnInit();
    watcher.join();
    platform::DestroyWindow(window);
    return 0;
}
