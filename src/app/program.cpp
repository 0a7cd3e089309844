#include "app/program.h"

#include "platform/settings_folder.h"

#include <QCoreApplication>

Program::Program(int rawIcmp)
    : icmp(LinuxIcmpHelper::SocketKind::Auto, rawIcmp),
      form({windowSystem, icmp, winsock,
            chooseSettingsFolder(QCoreApplication::applicationDirPath(),
                                 qEnvironmentVariable("XDG_CONFIG_HOME"),
                                 qEnvironmentVariable("HOME"))}),
      window(form) {
    icmp.setWhileWaiting([this] { window.showPendingResults(); });
}
