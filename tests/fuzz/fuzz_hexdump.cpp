// SPDX-License-Identifier: MIT
// Any payload up to 65,535 bytes: the dump must have one well-formed line per whole group of
// four bytes, numbered from 0, with the bytes in upper-case hex; formatted straight into a
// store, the same text in as many lines.
#include "log/Common.h"
#include "log/LogText.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

int decimalWidth(size_t value)
{
    int width = 1;
    while (value >= 10) {
        value /= 10;
        ++width;
    }
    return width;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65535)
        return 0;
    const QByteArrayView payload(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray dump = Common::HexDump(payload);
    const size_t lines = size / 4;
    // One store for every input, under a budget: dumps land across block ends and in blocks
    // taken over from the oldest, as in a long run.
    static LogText store(4 * 1024 * 1024);
    const qint64 from = store.end();
    const qint64 linesBefore = store.firstLine() + store.lineCount();
    Common::appendHexDump(store, payload);
    check(store.mid(from, store.end()) == dump);
    check(size_t(store.firstLine() + store.lineCount() - linesBefore) == lines);
    if (lines == 0) {
        check(dump.isEmpty());
        return 0;
    }
    const int labelWidth = std::max(4, decimalWidth(lines - 1));
    const size_t lineLength = size_t(labelWidth) + 3 + 4 * 3 - 1 + 2;
    check(size_t(dump.size()) == lines * lineLength);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (size_t line = 0; line < lines; ++line) {
        const char *text = dump.constData() + line * lineLength;
        size_t label = 0;
        for (int i = 0; i < labelWidth; ++i) {
            check(text[i] >= '0' && text[i] <= '9');
            label = label * 10 + size_t(text[i] - '0');
        }
        check(label == line);
        const char *rest = text + labelWidth;
        check(std::memcmp(rest, " : ", 3) == 0);
        for (int byte = 0; byte < 4; ++byte) {
            const uint8_t value = data[line * 4 + size_t(byte)];
            const char *hex = rest + 3 + byte * 3;
            check(hex[0] == kDigits[value >> 4] && hex[1] == kDigits[value & 15]);
            check(hex[2] == (byte < 3 ? ' ' : '\r'));
        }
        check(rest[3 + 12] == '\n');
    }
    return 0;
}
