#include "platform/host.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace iplib {

std::string localIpv4Address() {
    std::string found = "127.0.0.1";
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        if ((a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) continue;
        char buf[INET_ADDRSTRLEN];
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf)) {
            found = buf;
            break;
        }
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace iplib
