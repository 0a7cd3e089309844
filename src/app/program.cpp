#include "app/program.h"

#include <QCoreApplication>

Program::Program(LinuxIcmpHelper::SocketKind icmpKind)
    : icmp(icmpKind),
      settings(QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_CONFIG_HOME"),
               qEnvironmentVariable("HOME"), qEnvironmentVariable("XDG_CONFIG_DIRS")),
      form({windowSystem, icmp, winsock, settings}),
      window(form) {
    icmp.setWhileWaiting([this] { window.paintWhileWaiting(); });
}
