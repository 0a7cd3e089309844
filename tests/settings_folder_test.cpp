#include "platform/settings_folder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>

namespace {

TEST(chooseSettingsFolder, shouldKeepAWritableProgramFolderElseTakeTheUsersConfigFolder) {
    const QTemporaryDir writable;
    const QString missing = QStringLiteral("/nonexistent/folder");
    const struct {
        const char* name;
        QString program;
        QString xdgConfigHome;
        QString home;
        QString folder;
        bool makeAtSave;
    } cases[] = {
        {"writable", writable.path(), "/x", "/h", writable.path(), false},
        {"XDG_CONFIG_HOME", missing, "/x", "/h", "/x/sondrel-ping", true},
        {"no XDG_CONFIG_HOME", missing, "", "/h", "/h/.config/sondrel-ping", true},
        {"a relative one is ignored", missing, "x", "/h", "/h/.config/sondrel-ping", true},
        {"no usable home either", missing, "", "h", missing, false},
    };
    for (const auto& c : cases) {
        const SettingsFolder chosen = chooseSettingsFolder(c.program, c.xdgConfigHome, c.home);
        EXPECT_EQ(chosen.path, c.folder) << c.name;
        EXPECT_EQ(chosen.makeAtSave, c.makeAtSave) << c.name;
    }
}

// As under /usr, where even root may not write once the capabilities are dropped.
TEST(chooseSettingsFolder, shouldTakeTheUsersConfigFolderWhereTheProgramFolderIsReadOnly) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a read-only bind mount in a private mount namespace";
    }
    const QTemporaryDir program;
    EXPECT_EXIT(
        {
            const QByteArray folder = QFile::encodeName(program.path());
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0 ||
                mount(nullptr, folder.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                      nullptr) != 0) {
                std::_Exit(2);
            }
            const SettingsFolder chosen = chooseSettingsFolder(program.path(), "", "/h");
            std::_Exit(chosen.path == "/h/.config/sondrel-ping" && chosen.makeAtSave ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
