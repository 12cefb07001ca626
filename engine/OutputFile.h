// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace OutputFile {

// Where a file option writes: the file as given, or for "-" standard output opened anew, so that
// a writer may make its own descriptor non-blocking without touching the one the shell handed
// over. Standard output that is a plain file is switched to appending, for everyone who writes
// there.
QString path(const QString &file);

} // namespace OutputFile
