// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace Common {

// Four payload bytes to a line, "0002 : 1A 00 FF 07\r\n", labelled by group number with at least
// four digits. Bytes of an incomplete last group are not shown.
QByteArray HexDump(QByteArrayView payload);

} // namespace Common
