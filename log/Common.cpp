// SPDX-License-Identifier: MIT
#include "log/Common.h"

#include "log/LogText.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr qsizetype kBytesPerGroup = 4;
constexpr int kMinLabelDigits = 4;
// Groups whose label takes the fewest digits.
constexpr qsizetype kShortLabels = 10000;
// " XX"
constexpr qsizetype kCellSize = 3;
// " :" plus four cells plus CR LF.
constexpr qsizetype kLineBodySize = 2 + kBytesPerGroup * kCellSize + 2;
// A cell and the byte after it, so that a cell is one 4-byte store.
constexpr size_t kCellEntry = 4;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Per byte value its cell and a '\r', which the next cell overwrites; after the last cell it
// is the line's own.
constexpr auto kCells = [] {
    std::array<char, 256 * kCellEntry> cells {};
    for (size_t byte = 0; byte < 256; ++byte) {
        cells[byte * kCellEntry] = ' ';
        cells[byte * kCellEntry + 1] = kHexDigits[byte >> 4];
        cells[byte * kCellEntry + 2] = kHexDigits[byte & 0xF];
        cells[byte * kCellEntry + 3] = '\r';
    }
    return cells;
}();

// "0000" to "9999": the label of a group, or its last four digits.
constexpr auto kLabels = [] {
    std::array<char, kShortLabels * kMinLabelDigits> labels {};
    for (qsizetype group = 0; group < kShortLabels; ++group) {
        qsizetype rest = group;
        for (int d = kMinLabelDigits - 1; d >= 0; --d) {
            labels[size_t(group * kMinLabelDigits + d)] = char('0' + rest % 10);
            rest /= 10;
        }
    }
    return labels;
}();

// From the " :" on: the separator, the four cells and the line end of one group at out.
void writeBody(char *out, const unsigned char *group)
{
    out[0] = ' ';
    out[1] = ':';
    std::memcpy(out + 2, &kCells[group[0] * kCellEntry], kCellEntry);
    std::memcpy(out + 2 + kCellSize, &kCells[group[1] * kCellEntry], kCellEntry);
    std::memcpy(out + 2 + 2 * kCellSize, &kCells[group[2] * kCellEntry], kCellEntry);
    std::memcpy(out + 2 + 3 * kCellSize, &kCells[group[3] * kCellEntry], kCellEntry);
    // The last cell wrote the '\r' already.
    out[kLineBodySize - 1] = '\n';
}

// The lines of groups first .. first + count - 1, all with labels of `digits` digits, written
// to out: count * (digits + kLineBodySize) bytes.
void writeLines(char *out, const unsigned char *bytes, qsizetype first, qsizetype count, int digits)
{
    static_assert(kBytesPerGroup == 4, "a line is written as four cells");
    const unsigned char *group = bytes + first * kBytesPerGroup;
    if (digits == kMinLabelDigits) {
        // Groups below 10,000, all of a payload under 40,004 bytes: labels whole from the table.
        const char *label = &kLabels[size_t(first * kMinLabelDigits)];
        for (qsizetype i = 0; i < count; ++i) {
            std::memcpy(out, label, kMinLabelDigits);
            writeBody(out + kMinLabelDigits, group);
            out += kMinLabelDigits + kLineBodySize;
            label += kMinLabelDigits;
            group += kBytesPerGroup;
        }
        return;
    }
    for (qsizetype number = first; number < first + count; ++number) {
        // The digits above the last four, then those four from the table.
        qsizetype high = number / kShortLabels;
        for (int d = digits - kMinLabelDigits - 1; d >= 0; --d) {
            out[d] = char('0' + high % 10);
            high /= 10;
        }
        out += digits - kMinLabelDigits;
        std::memcpy(
            out, &kLabels[size_t(number % kShortLabels * kMinLabelDigits)], kMinLabelDigits);
        writeBody(out + kMinLabelDigits, group);
        out += kMinLabelDigits + kLineBodySize;
        group += kBytesPerGroup;
    }
}

// Calls run(first, count, digits) for each run of groups whose labels are as wide, in order.
template <typename Run> void forEachRun(qsizetype groups, Run run)
{
    qsizetype first = 0;
    qsizetype limit = kShortLabels;
    for (int digits = kMinLabelDigits; first < groups; ++digits, limit *= 10) {
        const qsizetype last = std::min(groups, limit);
        run(first, last - first, digits);
        first = last;
    }
}

} // namespace

QByteArray Common::HexDump(QByteArrayView payload)
{
    // The index is as wide as the payload's size, so datagrams past 32,767 bytes dump in full.
    const qsizetype groups = payload.size() / kBytesPerGroup;
    qsizetype size = 0;
    forEachRun(groups,
        [&](qsizetype, qsizetype count, int digits) { size += count * (digits + kLineBodySize); });
    QByteArray result(size, Qt::Uninitialized);
    char *out = result.data();
    const auto *bytes = reinterpret_cast<const unsigned char *>(payload.data());
    forEachRun(groups, [&](qsizetype first, qsizetype count, int digits) {
        writeLines(out, bytes, first, count, digits);
        out += count * (digits + kLineBodySize);
    });
    Q_ASSERT(out == result.data() + result.size());
    return result;
}

void Common::appendHexDump(LogText &text, QByteArrayView payload)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(payload.data());
    forEachRun(payload.size() / kBytesPerGroup, [&](qsizetype first, qsizetype count, int digits) {
        text.appendLines(count, digits + kLineBodySize, [&](char *out, qint64 from, qint64 n) {
            writeLines(out, bytes, first + from, n, digits);
        });
    });
}
