#pragma once
// Where the user manual is. An installed program finds it beside itself
// (../share/doc/velkor/manual, so a moved installation still works) or under the prefix it
// was built for; a program run from a build tree uses the source tree's docs/manual.

#include <QString>

namespace velkor {

// The manual's index.html as a local path, or empty when none is found.
QString ManualPath();
// The same as a file URL ("file:///…/index.html") for QDesktopServices, or empty.
QString ManualUrl();
// Opens the manual with the system's viewer; false when there is none or it failed.
bool OpenManual();

}  // namespace velkor
