// SPDX-License-Identifier: MIT
// Appends status lines to the log pane, following, held and beside two more views of its store,
// and to a QPlainTextEdit side by side, painting as the window does, and prints memory per line,
// time per append and the time to copy everything. Then it copies 1, 10 and 20 million status lines
// from a pane and prints the time and the peak of extra resident memory beside the size of the
// selection; under X11 (QT_QPA_PLATFORM=xcb, with xclip installed) also while xclip pastes it.
// Usage: bench_pane [largest line count for the first table]
#include "BenchSupport.h"
#include "log/StatusLine.h"
#include "pane/LogPane.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCursor>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// The endpoint hands over this many arrivals per pass of the event loop in a flood, so the
// panes get painted between batches of that size.
constexpr int kAppendsPerPass = 32;
constexpr int kCopiedLines[] = { 1000000, 10000000, 20000000 };
constexpr double kMiB = 1024.0 * 1024.0;
constexpr int kOtherViews = 2;
constexpr QSize kOtherViewSize(600, 400);

struct Figures
{
    double bytesPerLine;
    double usPerAppend;
    // The appends alone, without the passes of the event loop between them.
    double usPerAppendOnly;
    double copyMs;
};

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

// The kernel's high-water mark of the resident size; resetPeak() starts it again from now.
qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

void resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        std::fprintf(stderr, "cannot reset the peak resident size; peaks count from the start\n");
}

Figures measure(QWidget &widget, int lines, const std::function<void(const QByteArray &)> &append,
    const std::function<void()> &copyAll)
{
    widget.resize(233, 161);
    widget.show();
    QCoreApplication::processEvents();
    const qint64 residentBefore = residentBytes();
    const qint64 start = Bench::nowNs();
    qint64 appending = 0;
    std::array<QByteArray, kAppendsPerPass> batch;
    for (int i = 0; i < lines; i += kAppendsPerPass) {
        // Made before the clock starts: a line's allocation is no part of the append.
        const int count = std::min(kAppendsPerPass, lines - i);
        for (int j = 0; j < count; ++j)
            batch[size_t(j)] = statusLine(Direction::Receive, 16, 1000000000 + i + j);
        const qint64 batchStart = Bench::nowNs();
        for (int j = 0; j < count; ++j)
            append(batch[size_t(j)]);
        appending += Bench::nowNs() - batchStart;
        QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const qint64 appended = Bench::nowNs();
    const qint64 residentAfter = residentBytes();
    const qint64 copyStart = Bench::nowNs();
    copyAll();
    const qint64 copied = Bench::nowNs();
    return { double(residentAfter - residentBefore) / lines, (appended - start) / 1e3 / lines,
        appending / 1e3 / lines, (copied - copyStart) / 1e6 };
}

// otherViews: more panes on the same store, shown beside it, as the log windows are.
Figures measurePane(int lines, bool held, int otherViews = 0)
{
    LogPane pane;
    std::vector<std::unique_ptr<LogPane>> views;
    for (int i = 0; i < otherViews; ++i) {
        views.push_back(std::make_unique<LogPane>(pane.store()));
        views.back()->resize(kOtherViewSize);
        views.back()->show();
    }
    if (held) {
        // A reader's selection holds the pane: appends then touch neither view nor caret.
        pane.append(statusLine(Direction::Receive, 16, 0));
        pane.select(0, 7);
    }
    return measure(
        pane, lines, [&](const QByteArray &line) { pane.append(line); },
        [&] {
            pane.selectAll();
            pane.copy();
        });
}

void printCopyFigures()
{
    const QString xclip = QStandardPaths::findExecutable(QStringLiteral("xclip"));
    const bool paste = QGuiApplication::platformName() == QLatin1String("xcb") && !xclip.isEmpty();
    std::printf("\n%9s %12s %10s %16s %10s %16s\n", "lines", "selected MB", "copy ms",
        "copy peak+ MB", "paste ms", "paste peak+ MB");
    for (const int lines : kCopiedLines) {
        LogPane pane;
        for (int i = 0; i < lines; ++i)
            pane.append(statusLine(Direction::Receive, 16, 1000000000 + i));
        pane.selectAll();
        const double selectedMiB = double(pane.selectionEnd() - pane.selectionStart()) / kMiB;
        const qint64 before = residentBytes();
        resetPeak();
        const qint64 start = Bench::nowNs();
        pane.copy();
        const qint64 copied = Bench::nowNs();
        const double copyPeak = double(peakResidentBytes() - before) / kMiB;
        double pasteMs = 0;
        double pastePeak = 0;
        if (paste) {
            // Another program reads the clipboard while this one serves it from its loop.
            const qint64 served = residentBytes();
            resetPeak();
            QProcess reader;
            reader.setStandardOutputFile(QProcess::nullDevice());
            const qint64 pasteStart = Bench::nowNs();
            reader.start(xclip,
                { QStringLiteral("-o"), QStringLiteral("-selection"),
                    QStringLiteral("clipboard") });
            while (reader.state() != QProcess::NotRunning)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            pasteMs = (Bench::nowNs() - pasteStart) / 1e6;
            pastePeak = double(peakResidentBytes() - served) / kMiB;
        }
        std::printf("%9d %12.1f %10.1f %16.1f %10.1f %16.1f\n", lines, selectedMiB,
            (copied - start) / 1e6, copyPeak, pasteMs, pastePeak);
        std::fflush(stdout);
        QGuiApplication::clipboard()->clear();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int largest = argc > 1 ? std::atoi(argv[1]) : 1000000;
    std::printf("%-16s %9s %14s %14s %14s %12s\n", "pane", "lines", "bytes/line", "us/append",
        "us/append only", "copy all ms");
    for (int lines = 10000; lines <= largest; lines *= 10) {
        const Figures following = measurePane(lines, false);
        QGuiApplication::clipboard()->clear();
        const Figures held = measurePane(lines, true);
        QGuiApplication::clipboard()->clear();
        const Figures viewed = measurePane(lines, false, kOtherViews);
        QGuiApplication::clipboard()->clear();
        Figures plain;
        {
            QPlainTextEdit edit;
            plain = measure(
                edit, lines,
                [&](const QByteArray &line) {
                    QTextCursor cursor = edit.textCursor();
                    cursor.movePosition(QTextCursor::End);
                    cursor.insertText(QString::fromLatin1(line));
                    edit.setTextCursor(cursor);
                },
                [&] {
                    edit.selectAll();
                    edit.copy();
                });
        }
        QGuiApplication::clipboard()->clear();
        const auto print = [lines](const char *name, const Figures &figures) {
            std::printf("%-16s %9d %14.1f %14.2f %14.3f %12.1f\n", name, lines,
                figures.bytesPerLine, figures.usPerAppend, figures.usPerAppendOnly, figures.copyMs);
        };
        print("LogPane", following);
        print("LogPane held", held);
        print("LogPane +2 views", viewed);
        print("QPlainTextEdit", plain);
        std::printf("%-16s %9d %14.1fx %13.1fx %13.1fx %11.1fx\n", "ratio", lines,
            plain.bytesPerLine / following.bytesPerLine, plain.usPerAppend / following.usPerAppend,
            plain.usPerAppendOnly / following.usPerAppendOnly, plain.copyMs / following.copyMs);
        std::fflush(stdout);
    }
    printCopyFigures();
    return 0;
}
