#pragma once

#include <QString>

// Where Settings.inf is read and written.
struct SettingsFolder {
    QString path;
    bool makeAtSave = false;  // the folder and its parents are made before a save
};

// The program's folder where this process may write into it (a build tree, a
// portable copy). Else, as for a program installed under /usr, "sondrel-ping"
// in the user's configuration folder: xdgConfigHome where it is an absolute
// path, else home + "/.config"; with neither, the program's folder after all.
// Call it after the capabilities are dropped: root's override must not count.
SettingsFolder chooseSettingsFolder(const QString& programFolder, const QString& xdgConfigHome,
                                    const QString& home);

// Makes the folder and its missing parents. Returns the empty text, or why not.
QString makeFolder(const QString& path);
