#pragma once

#include <QString>

// The FTP server's namespace: clients see paths below a virtual "/" that is
// the served root folder; nothing they name may lead outside it.
namespace FtpPath {

// Joins a client's argument to the current virtual folder: "\" counts as "/",
// a leading "/" starts at the virtual root, "." parts are dropped and ".."
// removes the part before it, never going above "/". The result starts with
// "/" and has no trailing "/" (except "/" itself).
QString virtualPath(const QString &currentFolder, const QString &argument);

// The local path of a virtual path below `canonicalRoot` (a root without
// symbolic links), or an empty text when the nearest existing part of it,
// with symbolic links resolved, lies outside the root.
QString localPath(const QString &canonicalRoot, const QString &virtualPath);

} // namespace FtpPath
