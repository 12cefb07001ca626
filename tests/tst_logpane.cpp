// SPDX-License-Identifier: MIT
#include "pane/LogPane.h"
#include "pane/PaneFont.h"
#include "pane/PaneMimeData.h"

#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <limits>

namespace {

constexpr int kFirstLines = 100;
// Small enough that blocks of a few KiB are let go as lines arrive.
constexpr qint64 kSmallBudget = 64 * 1024;
constexpr int kLaterLines = 50;

// Every line the same length, as the window's status lines mostly are.
QByteArray statusLine(int i)
{
    return "Receive 16 " + QByteArray::number(1000000 + i) + "\r\n";
}

qint64 lineLength()
{
    return statusLine(0).size();
}

void appendLines(LogPane &pane, int from, int to)
{
    for (int i = from; i < to; ++i)
        pane.append(statusLine(i));
}

// After a repaint the scroll bar covers every line held, and the row above them that says
// what was let go.
bool refreshed(LogPane &pane)
{
    const QScrollBar *bar = pane.verticalScrollBar();
    const LogText &text = pane.content();
    return bar->maximum()
        == std::max<qint64>(0, text.lineCount() + (text.firstLine() > 0 ? 1 : 0) - bar->pageStep());
}

void showLikeTheWindow(LogPane &pane)
{
    pane.resize(233, 161);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
}

void wheel(LogPane &pane, int steps)
{
    const QPoint at = pane.viewport()->rect().center();
    QWheelEvent event(at, pane.viewport()->mapToGlobal(at), {}, QPoint(0, 120 * steps),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(pane.viewport(), &event);
}

// The middle of the cell that holds a position.
QPoint cellOf(const LogPane &pane, qint64 position)
{
    return pane.characterRect(position).center();
}

// A fixed-pitch face at a size whose advance is no whole number of pixels, as Noto Sans Mono's
// is at 9 pt; a default font when there is none.
QFont fractionalFont()
{
    QFont font(QStringLiteral("monospace"));
    font.setStyleHint(QFont::TypeWriter);
    for (int pixels = 10; pixels <= 20; ++pixels) {
        font.setPixelSize(pixels);
        const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
        const qreal fraction = advance - std::floor(advance);
        if (fraction > 0.1 && fraction < 0.9 && hasFixedAdvances(font))
            return font;
    }
    return {};
}

// The first column of a row that holds a pixel of another colour than the background.
int inkLeft(const QImage &image, int top, int height, QColor background)
{
    for (int x = 0; x < image.width(); ++x) {
        for (int y = top; y < top + height; ++y) {
            if (image.pixelColor(x, y) != background)
                return x;
        }
    }
    return -1;
}

// A user action on a pane that follows the first lines; it returns the text it selects.
using Action = QByteArray (*)(LogPane &);

enum class Output { CopyAll, CopyPart, Save, SaveRefused };

} // namespace

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Output)

class tst_LogPane : public QObject
{
    Q_OBJECT

private slots:
    void appendAndClear();
    void followOrHold_data();
    void followOrHold();
    void keysReachTheCaret();
    void contextMenuAtTheCaret_data();
    void contextMenuAtTheCaret();
    void dragPastAnEdgeScrolls_data();
    void dragPastAnEdgeScrolls();
    void selectionStartIsClamped_data();
    void selectionStartIsClamped();
    void copyAndSave_data();
    void copyAndSave();
    void followsPastTwoGigabytes();
    void lettingGoKeepsWhatStays_data();
    void lettingGoKeepsWhatStays();
    void typingNeverChangesTheLog();
    void findSelectsAndHolds_data();
    void findSelectsAndHolds();
    void gridAgreesWithGlyphs();
    void drawsWhatTheTextEngineDraws_data();
    void drawsWhatTheTextEngineDraws();
    void scrollBarRepaintsWhatMoved_data();
    void scrollBarRepaintsWhatMoved();
    void focusIsVisible();
    void accessibleText();
    void fontIsFixedPitch();
};

void tst_LogPane::appendAndClear()
{
    LogPane pane;
    pane.append("Send 16 1\r\n");
    pane.append("Receive 5 2\r\n");
    pane.append("Send 16 3\r\n");
    QCOMPARE(pane.text(), QByteArray("Send 16 1\r\nReceive 5 2\r\nSend 16 3\r\n"));
    QCOMPARE(pane.caret(), pane.text().size());
    pane.select(0, 4);
    QVERIFY(!pane.isFollowing());
    // As the primary selection is offered: read only when pasted.
    const PaneMimeData offered(pane, pane.selectionStart(), pane.selectionEnd());
    QCOMPARE(offered.data(QStringLiteral("text/plain")), QByteArray("Send"));
    pane.clear();
    QCOMPARE(pane.text(), QByteArray());
    QCOMPARE(pane.content().lineCount(), 1);
    QVERIFY(pane.isFollowing());
    pane.append("Receive 1 3\r\n");
    QCOMPARE(pane.text(), QByteArray("Receive 1 3\r\n"));
    QCOMPARE(pane.caret(), pane.content().end());
    // Its positions now hold other text, which was never selected.
    QCOMPARE(offered.data(QStringLiteral("text/plain")), QByteArray());
}

void tst_LogPane::followOrHold_data()
{
    QTest::addColumn<QKeySequence>("keys");
    // After the keys; none returns what the keys selected.
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("follows");
    // The keys and the action go to a second view of the pane's store, which then follows or
    // holds on its own while the pane keeps following.
    QTest::addColumn<bool>("secondView");

    // Rows named by their keys, in QKeySequence's words.
    const auto keys = [](const char *name, bool follows) {
        QTest::newRow(name) << QKeySequence(QString::fromLatin1(name)) << Action() << follows
                            << false;
    };
    const auto row = [](const char *name, Action action, bool follows) {
        QTest::newRow(name) << QKeySequence() << action << follows << false;
    };
    QTest::newRow("untouched") << QKeySequence() << Action() << true << false;
    QTest::newRow("PgUp in a second view")
        << QKeySequence(QKeySequence::MoveToPreviousPage) << Action() << false << true;
    keys("PgUp", false);
    keys("Ctrl+Home", false);
    keys("Ctrl+Home, Ctrl+End", true);
    keys("Ctrl+A", false);
    keys("Ctrl+A, Ctrl+End", true);
    keys("PgUp, PgDown", true);
    keys("Up", false);
    keys("Shift+PgUp", false);
    row(
        "wheel up", [](LogPane &pane) { return wheel(pane, 1), QByteArray(); }, false);
    row(
        "wheel up, a line arrives, wheel down to the end",
        [](LogPane &pane) {
            wheel(pane, 2);
            pane.append(statusLine(kFirstLines));
            wheel(pane, -5);
            return QByteArray();
        },
        true);
    row(
        "scroll bar to the top",
        [](LogPane &pane) {
            pane.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
            return QByteArray();
        },
        false);
    row(
        "scroll bar to the top and back",
        [](LogPane &pane) {
            pane.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
            pane.append(statusLine(kFirstLines));
            pane.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
            return QByteArray();
        },
        true);
    row(
        "click in an older line",
        [](LogPane &pane) {
            QTest::mouseClick(pane.viewport(), Qt::LeftButton, {},
                cellOf(pane, pane.content().end() - 3 * lineLength()));
            return QByteArray();
        },
        false);
    row(
        "click after the last line",
        [](LogPane &pane) {
            QTest::mouseClick(
                pane.viewport(), Qt::LeftButton, {}, QPoint(2, pane.viewport()->height() - 2));
            return QByteArray();
        },
        true);
    row(
        "double-click",
        [](LogPane &pane) {
            const qint64 tick = pane.content().end() - 2 * lineLength() + 13;
            QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, cellOf(pane, tick));
            return QByteArray::number(1000000 + kFirstLines - 2);
        },
        false);
    row(
        "drag",
        [](LogPane &pane) {
            const qint64 from = pane.content().end() - 4 * lineLength();
            const qint64 to = from + lineLength() + 7;
            QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, cellOf(pane, from));
            QTest::mouseMove(pane.viewport(), cellOf(pane, from + 3));
            QTest::mouseMove(pane.viewport(), cellOf(pane, to));
            QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, cellOf(pane, to));
            return pane.content().mid(from, to);
        },
        false);
    row(
        "shift-click",
        [](LogPane &pane) {
            const qint64 from = pane.content().end() - 3 * lineLength();
            QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, cellOf(pane, from));
            QTest::mouseClick(
                pane.viewport(), Qt::LeftButton, Qt::ShiftModifier, cellOf(pane, from + 25));
            return pane.content().mid(from, from + 25);
        },
        false);
}

// An action either leaves the pane following, so that later lines scroll into view and carry
// the caret along, or holding, so that they move neither the view, the caret nor the selection.
void tst_LogPane::followOrHold()
{
    QFETCH(QKeySequence, keys);
    QFETCH(Action, action);
    QFETCH(bool, follows);
    QFETCH(bool, secondView);
    LogPane pane;
    showLikeTheWindow(pane);
    LogPane second(pane.store());
    if (secondView)
        showLikeTheWindow(second);
    LogPane &view = secondView ? second : pane;
    appendLines(pane, 0, kFirstLines);
    QScrollBar *bar = view.verticalScrollBar();
    QTRY_VERIFY(refreshed(view));
    QCOMPARE(bar->value(), bar->maximum());

    QTest::keySequence(&view, keys);
    const QByteArray selects = action ? action(view) : view.selectedText();
    QCOMPARE(view.selectedText(), selects);
    QCOMPARE(view.isFollowing(), follows);
    const qint64 top = view.topLine();
    const qint64 start = view.selectionStart();
    const qint64 end = view.selectionEnd();
    const qint64 caret = view.caret();

    appendLines(pane, kFirstLines, kFirstLines + kLaterLines);
    QTRY_VERIFY(refreshed(view));
    QCOMPARE(view.isFollowing(), follows);
    if (follows) {
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(view.caret(), view.content().end());
        const QRect caretRect = view.characterRect(view.caret());
        QVERIFY(view.viewport()->rect().contains(caretRect.topLeft()));
    } else {
        QCOMPARE(view.topLine(), top);
        QCOMPARE(view.caret(), caret);
        QCOMPARE(view.selectionStart(), start);
        QCOMPARE(view.selectionEnd(), end);
        QCOMPARE(view.selectedText(), selects);
    }
    if (secondView) {
        QVERIFY(pane.isFollowing());
        QCOMPARE(pane.caret(), pane.content().end());
        QCOMPARE(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->maximum());
    }
    view.copy();
    if (!selects.isEmpty())
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(selects));
}

// Where each key takes the caret is tested on the text alone, in tst_caret; here a key reaches
// it, and a page is the rows in view.
void tst_LogPane::keysReachTheCaret()
{
    LogPane pane;
    showLikeTheWindow(pane);
    appendLines(pane, 0, kFirstLines);
    const LogText &text = pane.content();
    pane.setSelectionStart(text.lineStart(1) + 13);
    QTest::keyClick(&pane, Qt::Key_PageDown, Qt::ShiftModifier);
    const qint64 line = 1 + pane.verticalScrollBar()->pageStep();
    QCOMPARE(pane.caret(), text.lineStart(line) + 13);
    QCOMPARE(pane.selectionStart(), text.lineStart(1) + 13);
}

void tst_LogPane::contextMenuAtTheCaret_data()
{
    QTest::addColumn<bool>("menuKey");
    QTest::newRow("Shift+F10") << false;
    // As the platform delivers the Menu key: to the window, which hands it to the focus widget.
    QTest::newRow("Menu") << true;
}

void tst_LogPane::contextMenuAtTheCaret()
{
    QFETCH(bool, menuKey);
    LogPane pane;
    showLikeTheWindow(pane);
    pane.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    pane.append("Send 16 1\r\nReceive 4 2\r\n");
    pane.setSelectionStart(14);
    if (menuKey) {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(pane.windowHandle(), &event);
    } else {
        QTest::keyClick(&pane, Qt::Key_F10, Qt::ShiftModifier);
    }
    auto *menu = pane.findChild<QMenu *>();
    QVERIFY(menu && menu->isVisible());
    QCOMPARE(menu->pos(), pane.viewport()->mapToGlobal(pane.characterRect(14).center()));
    menu->close();
}

void tst_LogPane::dragPastAnEdgeScrolls_data()
{
    QTest::addColumn<bool>("up");
    QTest::newRow("past the top") << true;
    QTest::newRow("past the bottom") << false;
}

// Held past an edge, a drag goes on scrolling and selecting until it comes back or lets go.
void tst_LogPane::dragPastAnEdgeScrolls()
{
    QFETCH(bool, up);
    LogPane pane;
    showLikeTheWindow(pane);
    appendLines(pane, 0, kFirstLines);
    QTRY_VERIFY(pane.topLine() > 50);
    if (!up)
        pane.setSelectionStart(0);
    const qint64 top = pane.topLine();
    const qint64 pressed = pane.content().lineStart(top + 2);
    QWidget *viewport = pane.viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, cellOf(pane, pressed));
    QTest::mouseMove(viewport, QPoint(5, up ? -10 : viewport->height() + 10));
    QTRY_VERIFY(up ? pane.topLine() <= top - 3 : pane.topLine() >= top + 3);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(5, 5));
    const qint64 scrolled = pane.topLine();
    QCOMPARE(pane.selectionStart() + pane.selectionEnd() - pane.caret(), pressed);
    QVERIFY(pane.hasSelection());
    QTest::qWait(200);
    QCOMPARE(pane.topLine(), scrolled);
}

void tst_LogPane::selectionStartIsClamped_data()
{
    QTest::addColumn<qint64>("requested");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("negative") << qint64(-5) << qint64(0);
    QTest::newRow("inside") << qint64(3) << qint64(3);
    QTest::newRow("end") << qint64(10) << qint64(10);
    QTest::newRow("past end") << qint64(11) << qint64(10);
    QTest::newRow("past 2^32") << (qint64(1) << 33) << qint64(10);
}

void tst_LogPane::selectionStartIsClamped()
{
    QFETCH(qint64, requested);
    QFETCH(qint64, expected);
    LogPane pane;
    pane.append("Send 16 1\n");
    pane.setSelectionStart(requested);
    QCOMPARE(pane.caret(), expected);
    QCOMPARE(pane.selectionStart(), expected);
    QCOMPARE(pane.selectionEnd(), expected);
}

void tst_LogPane::copyAndSave_data()
{
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<Output>("output");

    QTest::newRow("copy all") << LogText::kNoLimit << Output::CopyAll;
    QTest::newRow("copy a part") << LogText::kNoLimit << Output::CopyPart;
    QTest::newRow("save") << LogText::kNoLimit << Output::Save;
    QTest::newRow("lines let go, copy all") << kSmallBudget << Output::CopyAll;
    QTest::newRow("lines let go, copy a part") << kSmallBudget << Output::CopyPart;
    QTest::newRow("lines let go, save") << kSmallBudget << Output::Save;
    QTest::newRow("a device that refuses") << kSmallBudget << Output::SaveRefused;
}

// A copy or a save holds exactly the pane's bytes, CR LF included; one that starts where lines
// were let go says so on a line of its own first.
void tst_LogPane::copyAndSave()
{
    QFETCH(qint64, budget);
    QFETCH(Output, output);
    LogPane pane(nullptr, budget);
    for (int i = 0; i < 4000; ++i)
        pane.append(i % 2 ? statusLine(i) : "0000 : 1A 1A 1A 1A\r\n\r\n");
    const LogText &text = pane.content();
    QCOMPARE(text.firstLine() > 0, budget != LogText::kNoLimit);
    const QByteArray header = text.firstLine() > 0
        ? "[" + QByteArray::number(text.firstLine()) + " older lines discarded]\r\n"
        : QByteArray();

    QByteArray expected;
    QByteArray written;
    switch (output) {
    case Output::CopyAll:
    case Output::CopyPart: {
        qint64 hexLine = text.firstLine();
        while (!text.line(hexLine).startsWith("0000"))
            ++hexLine;
        const qint64 from = text.lineStart(hexLine) + 7;
        if (output == Output::CopyAll)
            QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
        else
            pane.select(from, from + 5);
        expected = output == Output::CopyAll ? header + pane.text() : QByteArray("1A 1A");
        QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data->formats().contains(QStringLiteral("text/plain")));
        written = data->data(QStringLiteral("text/plain"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(expected));
        break;
    }
    case Output::Save: {
        QBuffer buffer(&written);
        QVERIFY(buffer.open(QIODevice::WriteOnly));
        QVERIFY(pane.save(buffer));
        expected = header + pane.text();
        break;
    }
    case Output::SaveRefused: {
        QBuffer buffer;
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ReadOnly device"));
        QVERIFY(!pane.save(buffer));
        return;
    }
    }
    QCOMPARE(written.size(), expected.size());
    QCOMPARE(written, expected);
}

void tst_LogPane::typingNeverChangesTheLog()
{
    LogPane pane;
    pane.append("Send 16 1\r\n");
    pane.selectAll();
    QTest::keyClicks(&pane, "xyz");
    QTest::keyClick(&pane, Qt::Key_Backspace);
    QTest::keyClick(&pane, Qt::Key_Delete);
    QTest::keyClick(&pane, Qt::Key_Return);
    QTest::keyClick(&pane, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pane.text(), QByteArray("Send 16 1\r\n"));
}

// Past 2^31 bytes, lines let go all along, the pane still shows its newest line.
void tst_LogPane::followsPastTwoGigabytes()
{
    LogPane pane(nullptr, kSmallBudget);
    showLikeTheWindow(pane);
    const QByteArray line = QByteArray(2000, 'x') + "\r\n";
    while (pane.content().end() <= std::numeric_limits<qint32>::max())
        pane.append(line);
    pane.append("Receive 16 1\r\n");
    const LogText &text = pane.content();
    QCOMPARE(pane.caret(), text.end());
    QScrollBar *bar = pane.verticalScrollBar();
    QTRY_COMPARE(pane.topLine(), text.firstLine() + text.lineCount() - bar->pageStep());
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(pane.viewport()->rect().contains(pane.characterRect(pane.caret()).topLeft()));
    QCOMPARE(pane.visibleText().right(16), QByteArray("\r\nReceive 16 1\r\n"));

    // Ctrl+Home shows what was let go above the first line held; Ctrl+End follows again.
    QTest::keyClick(&pane, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(pane.caret(), text.begin());
    QCOMPARE(pane.topLine(), text.firstLine() - 1);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&pane);
    QCOMPARE(iface->text(QAccessible::Description), pane.discardNotice());
    QVERIFY(pane.discardNotice().contains(QLocale(QLocale::Japanese).toString(text.firstLine())));
    QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(pane.isFollowing());
}

void tst_LogPane::lettingGoKeepsWhatStays_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("letGo");

    QTest::newRow("caret at the start") << Action([](LogPane &pane) {
        QTest::keyClick(&pane, Qt::Key_Home, Qt::ControlModifier);
        return QByteArray();
    }) << true;
    QTest::newRow("a recent line selected") << Action([](LogPane &pane) {
        const LogText &text = pane.content();
        const qint64 line = text.firstLine() + text.lineCount() - 3;
        pane.select(text.lineStart(line), text.lineStart(line + 1));
        return pane.selectedText();
    }) << false;
    QTest::newRow("a selection from the first line") << Action([](LogPane &pane) {
        pane.select(pane.content().begin() + 5, pane.content().end() - 10);
        return pane.selectedText();
    }) << true;
}

// While lines are let go under a held pane, caret, selection and view stay on their characters
// while those are held; what pointed at text let go moves to the first line held.
void tst_LogPane::lettingGoKeepsWhatStays()
{
    QFETCH(Action, action);
    QFETCH(bool, letGo);
    LogPane pane(nullptr, kSmallBudget);
    showLikeTheWindow(pane);
    int i = 0;
    while (pane.content().firstLine() == 0)
        pane.append(statusLine(i++));
    QTRY_VERIFY(pane.topLine() > pane.content().firstLine());

    const QByteArray selected = action(pane);
    QVERIFY(!pane.isFollowing());
    const qint64 start = pane.selectionStart();
    const qint64 end = pane.selectionEnd();
    const qint64 top = pane.topLine();
    const qint64 firstLine = pane.content().firstLine();
    appendLines(pane, i, i + 1000);
    const LogText &text = pane.content();
    QVERIFY(text.firstLine() > firstLine);
    QTRY_VERIFY(refreshed(pane));

    QVERIFY(!pane.isFollowing());
    QCOMPARE(start < text.begin(), letGo);
    QCOMPARE(pane.selectionStart(), std::max(start, text.begin()));
    QCOMPARE(pane.selectionEnd(), std::max(end, text.begin()));
    if (!letGo)
        QCOMPARE(pane.selectedText(), selected);
    // A view whose top line went shows the first line held, under the line that says so.
    QCOMPARE(pane.topLine(), std::max(top, text.firstLine() - 1));
}

void tst_LogPane::findSelectsAndHolds_data()
{
    QTest::addColumn<bool>("fromStart");
    QTest::addColumn<QByteArray>("needle");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("line"); // of the last match, -1 for none
    QTest::addColumn<bool>("wrapped");

    const QKeyCombination shiftF3(Qt::ShiftModifier, Qt::Key_F3);
    QTest::newRow("Enter finds a line blocks further on")
        << true << QByteArray("1002500") << QKeySequence(Qt::Key_Return) << 2500 << false;
    QTest::newRow("F3 finds the next match")
        << true << QByteArray("Receive 16 100250") << QKeySequence(Qt::Key_Return, Qt::Key_F3)
        << 2501 << false;
    QTest::newRow("Shift+F3 from the start wraps to the last")
        << true << QByteArray("Receive 16 100250") << QKeySequence(shiftF3) << 2509 << true;
    QTest::newRow("Shift+Enter from the end finds the last")
        << false << QByteArray("Receive 16 100250")
        << QKeySequence(QKeyCombination(Qt::ShiftModifier, Qt::Key_Return)) << 2509 << false;
    QTest::newRow("Enter from the end wraps to the start")
        << false << QByteArray("1002000") << QKeySequence(Qt::Key_Return) << 2000 << true;
    QTest::newRow("no match") << false << QByteArray("Send") << QKeySequence(Qt::Key_Return) << -1
                              << false;
}

// Ctrl+F opens a field in the pane; a match is selected and shown, the pane holds there while
// lines arrive, and Escape gives the focus back to the pane.
void tst_LogPane::findSelectsAndHolds()
{
    QFETCH(bool, fromStart);
    QFETCH(QByteArray, needle);
    QFETCH(QKeySequence, keys);
    QFETCH(int, line);
    QFETCH(bool, wrapped);
    LogPane pane(nullptr, kSmallBudget);
    showLikeTheWindow(pane);
    pane.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&pane));
    appendLines(pane, 0, 3000);
    QVERIFY(pane.content().firstLine() > 0);
    QTRY_VERIFY(pane.topLine() > 2900);
    if (fromStart)
        QTest::keyClick(&pane, Qt::Key_Home, Qt::ControlModifier);

    QTest::keyClick(&pane, Qt::Key_F, Qt::ControlModifier);
    auto *field = pane.findChild<QLineEdit *>();
    QVERIFY(field && field->isVisible());
    QTRY_VERIFY(field->hasFocus());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const int fieldWidth = field->width();
    QTest::keyClicks(field, QString::fromLatin1(needle));
    QSignalSpy finished(&pane, &LogPane::findFinished);
    for (uint i = 0; i < uint(keys.count()); ++i) {
        QTest::keyClick(field, keys[i].key(), keys[i].keyboardModifiers());
        QVERIFY(finished.wait());
    }
    // Whatever the notice beside it says.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCOMPARE(field->width(), fieldWidth);
    QCOMPARE(finished.last().at(0).toBool(), line >= 0);
    QCOMPARE(finished.last().at(1).toBool(), wrapped);
    if (line >= 0) {
        const LogText &text = pane.content();
        QCOMPARE(pane.selectionStart(), text.lineStart(line) + text.line(line).indexOf(needle));
        QCOMPARE(pane.selectedText(), needle);
        QVERIFY(!pane.isFollowing());
        QVERIFY(
            pane.topLine() <= line && line < pane.topLine() + pane.verticalScrollBar()->pageStep());
        const qint64 top = pane.topLine();
        appendLines(pane, 3000, 3100);
        QTRY_VERIFY(refreshed(pane));
        QCOMPARE(pane.selectedText(), needle);
        QCOMPARE(pane.topLine(), top);
    }

    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(!field->isVisible());
    QTRY_VERIFY(pane.hasFocus());
}

// Glyphs are drawn in the cells that hit-testing, the selection and the caret use, however far
// along the line, for a face whose advance is a fraction of a pixel.
void tst_LogPane::gridAgreesWithGlyphs()
{
    const QFont font = fractionalFont();
    if (font.pixelSize() <= 0)
        QSKIP("No fixed-pitch face with a fractional advance here");
    LogPane pane;
    pane.setFont(font);
    pane.resize(900, 120);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    // Column 80 holds the only ink of the first line.
    const QByteArray line = QByteArray(80, ' ') + 'W' + QByteArray(119, ' ');
    pane.append(line + "\r\n" + line);
    QScrollBar *horizontal = pane.horizontalScrollBar();
    QTRY_VERIFY(horizontal->maximum() > 0);

    const QColor base = pane.palette().base().color();
    const QRect cell = pane.characterRect(80);
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
    const qreal runWidth
        = QFontMetricsF(font).horizontalAdvance(QString::fromLatin1(line.left(80)));
    QVERIFY2(qAbs(cell.left() - pane.characterRect(0).left() - runWidth) <= 1,
        qPrintable(
            QStringLiteral("column 80 at %1, the run ends at %2").arg(cell.left()).arg(runWidth)));
    const int ink = inkLeft(pane.viewport()->grab().toImage(), 0, pane.lineHeight(), base);
    QVERIFY2(ink >= cell.left() && ink < cell.left() + advance,
        qPrintable(QStringLiteral("glyph at %1, cell at %2").arg(ink).arg(cell.left())));
    QCOMPARE(pane.positionAt(QPoint(ink, 2)), 80);
    // Scrolled so that the line starts out of view, the glyph still sits in its cell.
    horizontal->setValue(int(40 * advance));
    const QRect scrolled = pane.characterRect(80);
    const int scrolledInk = inkLeft(pane.viewport()->grab().toImage(), 0, pane.lineHeight(), base);
    QVERIFY(scrolledInk >= scrolled.left() && scrolledInk < scrolled.left() + advance);

    // Scrolled all the way, the end of the longest line and a cell past it are in view.
    horizontal->triggerAction(QAbstractSlider::SliderToMaximum);
    const QRect lineEnd = pane.characterRect(line.size());
    QVERIFY(lineEnd.right() < pane.viewport()->width());
    QVERIFY(lineEnd.left() > pane.viewport()->width() - 3 * advance);

    // A selected line break shows as a selected cell; the next line's, not selected, does not.
    pane.select(100, line.size() + 2);
    const QImage selected = pane.viewport()->grab().toImage();
    QCOMPARE(selected.pixelColor(lineEnd.center()), pane.palette().highlight().color());
    QCOMPARE(selected.pixelColor(lineEnd.center() + QPoint(0, pane.lineHeight())), base);
}

void tst_LogPane::drawsWhatTheTextEngineDraws_data()
{
    QTest::addColumn<QFont>("font");
    QTest::newRow("the pane's face") << paneFont();
    if (const QFont fractional = fractionalFont(); fractional.pixelSize() > 0)
        QTest::newRow("a fractional advance") << fractional;
}

void tst_LogPane::drawsWhatTheTextEngineDraws()
{
    // The pane draws its glyphs from a table; each line must come out pixel for pixel as the
    // text engine lays it out, control characters and letters beyond ASCII included.
    QFETCH(QFont, font);
    LogPane pane;
    pane.setFocusPolicy(Qt::NoFocus); // no caret in the picture
    pane.setFont(font);
    pane.resize(700, 160);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    const QByteArrayList lines { "Send 16 -2147483648", "Receive 65507 1234567",
        "0a0b0c0d ~!@#$%^&*()_+{}|:<>?", QByteArray("tab\there \x01\x7f \xe9\xfc\xff end") };
    pane.append(lines.join("\r\n") + "\r\n");
    QTRY_COMPARE(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->minimum());
    const QImage drawn = pane.viewport()->grab().toImage();

    QImage expected(drawn.size(), drawn.format());
    expected.setDevicePixelRatio(drawn.devicePixelRatio());
    expected.fill(pane.palette().base().color());
    QPainter painter(&expected);
    painter.setFont(pane.font());
    painter.setPen(pane.palette().text().color());
    const qreal ascent = QFontMetricsF(pane.font()).ascent();
    qint64 start = 0;
    for (const QByteArray &line : lines) {
        const QRect cell = pane.characterRect(start);
        painter.drawText(QPointF(cell.left(), cell.top() + ascent), QString::fromLatin1(line));
        start += line.size() + 2;
    }
    painter.end();
    QCOMPARE(drawn, expected);
}

void tst_LogPane::scrollBarRepaintsWhatMoved_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("wheelSteps");
    // The handle shrinks and moves at every line; then it moves by less than a pixel.
    QTest::newRow("first lines") << 30 << 0;
    QTest::newRow("a long log") << 3000 << 0;
    QTest::newRow("scrolled back") << 300 << 40;
}

void tst_LogPane::scrollBarRepaintsWhatMoved()
{
    QFETCH(int, lines);
    QFETCH(int, wheelSteps);
    LogPane pane;
    showLikeTheWindow(pane);
    // Each line is painted as it comes, so the bar on the screen is the sum of every partial
    // repaint on the way.
    for (int i = 0; i < lines; i += 1 + i / 10) {
        appendLines(pane, i, i + 1 + i / 10);
        QTRY_VERIFY(refreshed(pane));
        QCoreApplication::processEvents();
    }
    if (wheelSteps != 0)
        wheel(pane, wheelSteps);
    QCoreApplication::processEvents();

    // What partial repaints left on the screen against the whole bar drawn afresh.
    QScrollBar *const bar = pane.verticalScrollBar();
    const QPoint at = bar->mapTo(&pane, QPoint(0, 0));
    const QImage shown = pane.screen()
                             ->grabWindow(pane.winId(), at.x(), at.y(), bar->width(), bar->height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown, bar->grab().toImage().convertToFormat(QImage::Format_RGB32));
}

void tst_LogPane::focusIsVisible()
{
    QWidget window;
    auto *pane = new LogPane(&window);
    pane->setGeometry(0, 0, 200, 100);
    auto *other = new LogPane(&window);
    other->setGeometry(0, 110, 200, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const auto frame = [pane] {
        const QImage image = pane->grab().toImage();
        QList<QRgb> pixels;
        for (int x = 0; x < pane->viewport()->x(); ++x)
            pixels << image.pixel(x, pane->height() / 2);
        return pixels;
    };
    pane->setFocus();
    QTRY_VERIFY(pane->hasFocus());
    const QList<QRgb> focused = frame();
    other->setFocus();
    QTRY_VERIFY(!pane->hasFocus());
    QVERIFY(!focused.isEmpty());
    QVERIFY(frame() != focused);
}

void tst_LogPane::accessibleText()
{
    LogPane pane;
    showLikeTheWindow(pane);
    pane.setAccessibleName(QStringLiteral("ステータス"));
    pane.append("Send 16 1\r\nReceive 4 2\r\n");
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&pane);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("ステータス"));
    QVERIFY(iface->state().readOnly);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 24);
    QCOMPARE(text->text(0, 7), QStringLiteral("Send 16"));
    QCOMPARE(text->cursorPosition(), 24);
    int start = -1;
    int end = -1;
    QCOMPARE(text->textAtOffset(14, QAccessible::LineBoundary, &start, &end),
        QStringLiteral("Receive 4 2\r\n"));
    QCOMPARE(start, 11);
    QCOMPARE(end, 24);
    QCOMPARE(
        text->textAtOffset(14, QAccessible::WordBoundary, &start, &end), QStringLiteral("Receive"));
    QCOMPARE(std::pair(start, end), std::pair(11, 18));

    pane.select(5, 16);
    QCOMPARE(text->selectionCount(), 1);
    text->selection(0, &start, &end);
    QCOMPARE(start, 5);
    QCOMPARE(end, 16);
    const QRect cell = pane.characterRect(13);
    QCOMPARE(
        text->characterRect(13), QRect(pane.viewport()->mapToGlobal(cell.topLeft()), cell.size()));
    QCOMPARE(text->offsetAtPoint(pane.viewport()->mapToGlobal(cell.center())), 13);

    // The value is what is in view, not the whole log.
    appendLines(pane, 0, 10000);
    QVERIFY(iface->text(QAccessible::Value).size() < 50 * lineLength());
}

void tst_LogPane::fontIsFixedPitch()
{
    QVERIFY(hasFixedAdvances(paneFont()));
    QCOMPARE(paneFont().pointSize(), 9);
}

QTEST_MAIN(tst_LogPane)
#include "tst_logpane.moc"
