#include "orvanta/proxy/proxy_mesg.h"

#include <cstring>

PROXY_MESG MakeProxyMesg(int number, int size, const char* uid)
{
    PROXY_MESG m;
    m.number = number;
    m.size = size;
    if (uid) {
        std::strncpy(m.uid, uid, sizeof m.uid - 1);
        m.uid[sizeof m.uid - 1] = '\0';
    }
    return m;
}

int ServerNumber(const ProxyMesgList& list, int n)
{
    if (n < 1 || static_cast<size_t>(n) > list.size())
        return 0;
    return list[static_cast<size_t>(n) - 1].number;
}
