// Writes and lists filter files through the filter library, for the integration tests:
//   pipeline_rules rule FILE PROPERTY WORD FOLDER ACTION   add a block rule (level low, substring)
//   pipeline_rules pass FILE ADDRESS                       add a pass entry
//   pipeline_rules rules FILE                              one line a rule: property|word|folder|description-hex|action
//   pipeline_rules passes FILE                             one line an entry: address|description-hex
//   pipeline_rules folder STORE NAME                       create a store folder (name as the store writes it)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harborage/folder_store.h"
#include "sievelet/sievelet.h"

namespace {

std::string Hex(const char* text)
{
    std::string out;
    char b[3];
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        std::snprintf(b, sizeof b, "%02x", *p);
        out += b;
    }
    return out;
}

int Usage()
{
    std::fprintf(stderr, "usage: pipeline_rules rule|pass|rules|passes|folder ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    std::string verb = argv[1];
    if (verb == "rule" && argc == 7) {
        CSpamFilter set(argv[2]);
        set.AddSpamFilter(false, SPAM_LEVEL_LOW, static_cast<unsigned char>(std::atoi(argv[3])), 0, 0, argv[4], argv[5],
                          "test rule", std::atoi(argv[6]));
        return set.SaveSpamFilter() ? 0 : 1;
    }
    if (verb == "pass" && argc == 4) {
        CPassFilter set(argv[2]);
        set.AddPassFilter(argv[3], "test entry");
        return set.SavePassFilter() ? 0 : 1;
    }
    if (verb == "rules" && argc == 3) {
        CSpamFilter set(argv[2]);
        for (int i = 0; i < set.GetSize(); ++i) {
            SPAM_FILTER* r = set.GetSpamFilter(i);
            std::printf("%d|%s|%s|%s|%d\n", r->property, r->word, r->folder, Hex(r->description).c_str(), r->action);
        }
        return 0;
    }
    if (verb == "passes" && argc == 3) {
        CPassFilter set(argv[2]);
        for (int i = 0; i < set.GetSize(); ++i) {
            PASS_FILTER* p = set.GetPassFilter(i);
            std::printf("%s|%s\n", p->address, Hex(p->description).c_str());
        }
        return 0;
    }
    if (verb == "folder" && argc == 4) {
        CIMAPFolder store(argv[2]);
        if (store.ExistFolder("INBOX") == 0 && !store.CreateFolder("INBOX", 1, 0))
            return 1;
        if (std::strcmp(argv[3], "INBOX") == 0)
            return 0;
        return store.CreateFolder(argv[3], 1, 0) ? 0 : 1;
    }
    return Usage();
}
