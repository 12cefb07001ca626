// SPDX-License-Identifier: MIT
#include "engine/OutputFile.h"

#include "engine/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString OutputFile::path(const QString &file)
{
    if (!Settings::isStandardOutput(file))
        return file;
    // A plain file opened anew has an offset of its own: the shell's later writes, and stderr
    // sent to the same file, would land over these lines. Appending, every writer goes to the
    // end. A pipe or a terminal has no offset to share.
    struct stat status = {};
    if (::fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode)) {
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
        if (flags >= 0 && (flags & O_APPEND) == 0)
            ::fcntl(STDOUT_FILENO, F_SETFL, flags | O_APPEND);
    }
    return QStringLiteral("/dev/stdout");
}
