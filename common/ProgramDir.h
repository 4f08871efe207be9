#pragma once

#include <QString>

// The running program's own path and folder, read from /proc/self/exe, so they
// are right even before the Qt application object exists.
namespace ProgramDir {

QString executablePath();
QString folder();

} // namespace ProgramDir
