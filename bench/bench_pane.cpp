// SPDX-License-Identifier: MIT
// Appends status lines to the log pane and to a QPlainTextEdit side by side, painting as the
// window does, and prints memory per line, time per append and the time to copy everything.
#include "BenchSupport.h"
#include "LogPane.h"
#include "StatusLine.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <cstdio>
#include <functional>

namespace {

// The endpoint hands over this many arrivals per pass of the event loop in a flood, so the
// panes get painted between batches of that size.
constexpr int kAppendsPerPass = 32;

struct Figures
{
    double bytesPerLine;
    double usPerAppend;
    double copyMs;
};

Figures measure(QWidget &widget, int lines, const std::function<void(const QByteArray &)> &append,
    const std::function<void()> &copyAll)
{
    widget.resize(233, 161);
    widget.show();
    QCoreApplication::processEvents();
    const qint64 heapBefore = Bench::heapInUse();
    const qint64 start = Bench::nowNs();
    for (int i = 0; i < lines; ++i) {
        append(statusLine(Direction::Receive, 16, 1000000000 + i));
        if (i % kAppendsPerPass == kAppendsPerPass - 1)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const qint64 appended = Bench::nowNs();
    const qint64 heapAfter = Bench::heapInUse();
    const qint64 copyStart = Bench::nowNs();
    copyAll();
    const qint64 copied = Bench::nowNs();
    return { double(heapAfter - heapBefore) / lines, (appended - start) / 1e3 / lines,
        (copied - copyStart) / 1e6 };
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int largest = argc > 1 ? std::atoi(argv[1]) : 1000000;
    std::printf(
        "%-16s %9s %14s %14s %12s\n", "pane", "lines", "bytes/line", "us/append", "copy all ms");
    for (int lines = 10000; lines <= largest; lines *= 10) {
        Figures ours;
        {
            LogPane pane;
            ours = measure(
                pane, lines, [&](const QByteArray &line) { pane.append(line); },
                [&] {
                    pane.selectAll();
                    pane.copy();
                });
        }
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
        std::printf("%-16s %9d %14.1f %14.2f %12.1f\n", "LogPane", lines, ours.bytesPerLine,
            ours.usPerAppend, ours.copyMs);
        std::printf("%-16s %9d %14.1f %14.2f %12.1f\n", "QPlainTextEdit", lines, plain.bytesPerLine,
            plain.usPerAppend, plain.copyMs);
        std::printf("%-16s %9d %14.1fx %13.1fx %11.1fx\n", "ratio", lines,
            plain.bytesPerLine / ours.bytesPerLine, plain.usPerAppend / ours.usPerAppend,
            plain.copyMs / ours.copyMs);
        std::fflush(stdout);
    }
    return 0;
}
