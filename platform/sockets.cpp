#include "platform/sockets.h"

SOCKET OpenSocket(bool useTcp) {
    return useTcp ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
}

sockaddr_in MakeIpv4Address(ULONG address, UINT port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
    a.sin_addr.s_addr = address;
    return a;
}
