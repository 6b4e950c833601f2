#pragma once

#include <QDialog>
#include <QString>

// Shown when the chosen device can not be opened for reading: how to start
// the program with the rights that reading a raw device needs, in a command
// that works from where the program runs.
class PermissionPanel : public QDialog {
    Q_OBJECT
public:
    explicit PermissionPanel(QWidget* parent = nullptr);

    // Where the program runs from and what the machine offers it.
    struct Launch {
        QString program;          // the running executable, absolute
        QString installedProgram; // where an install puts it
        bool policyInstalled = false;
        QString onPath;  // what its short name finds on the PATH
        QString display; // the X display and its authority file
        QString xauthority;
    };
    // The running program's own.
    static Launch thisLaunch();
    // Running as installed, with the menu entry and the polkit action.
    static bool installed(const Launch& launch);
    // Installed with its polkit action, pkexec starts the window by name
    // (or by the installed path where the PATH does not find it). Anywhere
    // else pkexec's own rule applies, which hands no display over: the
    // command passes the display on itself.
    static QString startCommand(const Launch& launch);
};
