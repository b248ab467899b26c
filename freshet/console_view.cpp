#include "freshet/console_view.h"

#include <cstdio>

#include "freshet/texts.h"

namespace freshet {

namespace {

// One line: a message's own CR LF becomes a space.
void PrintLine(const std::string& prefix, const std::string& text)
{
    std::string line = prefix;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            line += ' ';
            ++i;
        } else {
            line += text[i];
        }
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

void ConsoleView::SetStatus(const std::string& text) { PrintLine("", text); }

void ConsoleView::ShowMessage(const std::string& text)
{
    PrintLine(std::string("[") + texts::kMessageTitle + "] ", text);
}

}  // namespace freshet
