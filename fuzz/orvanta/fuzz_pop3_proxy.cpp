// The POP3 proxy's text handling. The input is the mail client's lines, a NUL, and the bytes
// the real server sends back: the lines go through the log-in parse, the answers before the
// log-in and the renumbering; the server's bytes through the reply tracker and the CAPA
// filter, in pieces cut where the input says. The filter must give the same bytes however
// the server's stream is cut, and pass it unchanged while it expects no CAPA answer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "orvanta/proxy/pop3_commands.h"
#include "orvanta/proxy/proxy_mesg.h"
#include "orvanta/proxy/reply_tracker.h"

using pop3proxy::CapaReplyFilter;
using pop3proxy::ReplyTracker;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string_view client = input.substr(0, nul);
    std::string_view server = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    static const ProxyMesgList list = {MakeProxyMesg(3, 1200, "uid-3"), MakeProxyMesg(7, 0, ""),
                                       MakeProxyMesg(9, 2147483647, "a\"b(c)")};
    ReplyTracker tracker;
    CapaReplyFilter whole, pieces;
    int capas = 0;
    bool first = true;
    while (!client.empty()) {
        size_t lf = client.find('\n');
        std::string_view line = client.substr(0, lf);
        client = lf == std::string_view::npos ? std::string_view() : client.substr(lf + 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first) {
            pop3proxy::LoginTarget target;
            if (pop3proxy::ParseLoginLine(line, &target) &&
                (target.user.size() > pop3proxy::kMaxLoginPiece || target.server.size() > pop3proxy::kMaxLoginPiece ||
                 target.server.empty()))
                abort();
            (void)pop3proxy::ReplyBeforeLogin(line);
            first = pop3proxy::IsCapaLine(line);
        }
        pop3proxy::CommandAction action = pop3proxy::TranslateCommand(line, list);
        if (action.kind == pop3proxy::CommandAction::Reply && action.replyLines.empty())
            abort();
        if (action.kind != pop3proxy::CommandAction::Reply) {
            tracker.Expect(ReplyTracker::ReplyTo(action.text));
            if (pop3proxy::IsCapaLine(line)) {
                whole.Expect();
                pieces.Expect();
                ++capas;
            }
        }
        (void)pop3proxy::SplitWords(line, line.size() % 2 ? ' ' : '\t');
    }

    std::string outWhole, outPieces;
    whole.Pass(server, outWhole);
    whole.Finish(outWhole);
    // Pieces of 1 to 16 bytes, their lengths taken from the stream itself.
    size_t at = 0;
    while (at < server.size()) {
        size_t n = 1 + static_cast<unsigned char>(server[at]) % 16;
        std::string_view piece = server.substr(at, n);
        pieces.Pass(piece, outPieces);
        tracker.Received(piece.data(), piece.size());
        (void)tracker.Awaiting();
        at += piece.size();
    }
    pieces.Finish(outPieces);
    if (outWhole != outPieces)
        abort();
    if (capas == 0 && outWhole != server)
        abort();
    return 0;
}
