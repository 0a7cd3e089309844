#include "platform/address_text.h"

#include "platform/system_text_win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

std::u16string ipv6Text(const uint8_t (&address)[16]) {
    wchar_t text[INET6_ADDRSTRLEN] = {};
    InetNtopW(AF_INET6, address, text, INET6_ADDRSTRLEN);
    return programText(text);
}
