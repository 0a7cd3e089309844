#include "platform/address_text.h"

#include <arpa/inet.h>

std::u16string ipv6Text(const uint8_t (&address)[16]) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address, text, sizeof text);
    return {text, text + std::char_traits<char>::length(text)};
}
