#pragma once
// The per-user program options. They live in an INI store (~/.config/Velkor/Velkor.conf,
// following XDG_CONFIG_HOME) rather than in the project: a project travels between
// machines, these choices belong to the person at this one. Booleans are stored as 0 and 1
// and read as "non-zero is true"; a value that is missing or unreadable takes its default,
// which is written back at once, so the store always shows every option a user can edit.

#include <QSettings>
#include <QString>
#include <functional>
#include <memory>

namespace velkor {

struct TProgramSettings {
  bool ZeroRegs = false;        // clear every device's tables when the emulation starts
  bool AskZeroRegs = true;      // ask about clearing at a manual start
  bool AutoLoadConfig = false;  // open ConfigPath at program start
  QString ConfigPath;           // the default project
  bool AutoStart = false;       // start the emulation after program start
  bool HideApp = false;         // hide to the tray after program start
  int Period = 500;             // refresh period of the live values, ms
  // The main window's position and outer size when last written; written, never read.
  int X = 0, Y = 0, Width = 0, Height = 0;

  static constexpr int kDefaultPeriod = 500;

  // Reads the options in the order ZeroRegs, AskZeroRegs, AutoLoadConfig, Period,
  // ConfigPath, then AutoStart and HideApp; a missing value gets its default, written to
  // the store. `afterConfigPath` runs between the two parts: the window opens the default
  // project there (DefaultProjectToOpen), before AutoStart and HideApp are read.
  // Returns false when the store could not be written.
  bool LoadSettings(QSettings& store,
                    const std::function<void(const TProgramSettings&)>& afterConfigPath = {});
  // Writes every value, in the order ZeroRegs, AskZeroRegs, AutoLoadConfig, ConfigPath,
  // AutoStart, HideApp, X, Y, Width, Height, Period, and syncs the file. False when the
  // store could not be written.
  bool SaveSettings(QSettings& store) const;
};

// The user's store: $XDG_CONFIG_HOME/Velkor/Velkor.conf (~/.config by default), INI format.
std::unique_ptr<QSettings> OpenSettingsStore();

// The project to open at start: ConfigPath when AutoLoadConfig is set and the file exists,
// else empty (a missing default project is skipped without a message).
QString DefaultProjectToOpen(const TProgramSettings& settings);

}  // namespace velkor
