// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Every byte as `hexdump -v -C` shows it: an eight-digit hex offset, sixteen bytes to a line in
// two groups of eight, the printable ASCII beside them between bars, and a last line with the
// total length. Lines end in '\n'. Unlike hexdump, no input still gives the "00000000" line, so
// that an empty datagram shows as one.
QByteArray canonicalHexDump(QByteArrayView bytes);
