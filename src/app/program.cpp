#include "app/program.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdlib>

namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

Program::Program(LinuxIcmpLibrary::SocketKind icmpKind)
    : icmp(icmpKind),
      settings(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString(),
               environment("XDG_CONFIG_HOME"), environment("HOME"), environment("XDG_CONFIG_DIRS")),
      form({windowSystem, icmp, winsock, settings}),
      window(form) {
    icmp.setWhileWaiting([this] { window.paintWhileWaiting(); });
}
