// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

class LogText;

namespace Common {

// Four payload bytes to a line, "0002 : 1A 00 FF 07\r\n", labelled by group number with at least
// four digits. Bytes of an incomplete last group are not shown.
QByteArray HexDump(QByteArrayView payload);

// Appends exactly HexDump(payload) to the text, formatted straight into its store.
void appendHexDump(LogText &text, QByteArrayView payload);

} // namespace Common
