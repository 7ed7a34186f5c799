#pragma once
// Start with the user's logon, the freedesktop way: a desktop entry in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart by default) that session managers run at
// logon. The settings dialog only asks whether the entry is there and creates or removes it;
// the caller ignores failures, so these functions report them but never throw.

#include <QString>

namespace velkor {

// $XDG_CONFIG_HOME/autostart/velkor.desktop.
QString AutostartEntryPath();

// True when the entry exists with a non-empty Exec line and is not switched off
// (Hidden=true); an unreadable file counts as absent.
bool AutostartEntryExists();

// Writes the entry running `exePath` (atomically: temporary file and rename), or removes it.
// True when the entry is as asked afterwards.
bool SetAutostartEntry(bool on, const QString& exePath);

// `path` as one argument of an Exec line (quoted and escaped when it needs to be).
QString DesktopExecArgument(const QString& path);

}  // namespace velkor
