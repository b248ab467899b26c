// An outside program: creates a folder, delivers one message and reads it back.
#include "harborage/harborage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::string root = argv[1];
    CIMAPFolder folders(root.c_str());
    if (!folders.CreateFolder("INBOX", 1, 0))
        return 3;
    std::string temp = root + "append.temp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr)
        return 4;
    std::fputs("Subject: hi\r\n\r\nbody\r\n", f);
    std::fclose(f);

    CIMAPMail mail(root.c_str());
    mail.FolderMailInit("INBOX");
    if (mail.AddTempMailMesg("INBOX", temp.c_str(), false, false, false, false, false, true, "", "") != 1)
        return 5;
    char* header = mail.LoadMailHeader(mail.GetMailInfo(1)->name);
    bool ok = header != nullptr && std::strcmp(header, "Subject: hi\r\n\r\n") == 0;
    std::free(header);
    std::printf("uid %d, %s\n", mail.GetMailInfo(1)->uid, ok ? "header ok" : "header wrong");
    return ok ? 0 : 6;
}
