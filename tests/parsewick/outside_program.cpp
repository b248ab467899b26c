// Built outside the project's CMake: only -I <project root> and -lparsewick. It must compile,
// link and parse a message.
#include "parsewick/parsewick.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main()
{
    char text[] = "Subject: =?x?B?QUJD?=\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                  "--b\r\n\r\nhello\r\n--b--\r\n";
    CMimeMessage* m = CMailParser::ParsingMail(text, true);
    bool ok = strcmp(m->GetHeader()->GetSubject(), "ABC") == 0 && m->GetListSize() == 1;
    char* out = CMailParser::MimeToMailSrc(m);
    ok = ok && strcmp(out, text) == 0;
    free(out);
    delete m;
    puts(ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
