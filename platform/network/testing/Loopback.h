#pragma once
// 127.0.0.1 at a port (0 lets bind() choose one): the only address the network tests use.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

inline sockaddr_in loopbackAddress(int port = 0) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}
