// SPDX-License-Identifier: MIT
#include "LogPane.h"
#include "PaneFont.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

namespace {

constexpr int kFirstLines = 100;
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

// A user action on a pane that follows the first lines; it returns the text it selects.
using Action = QByteArray (*)(LogPane &);

} // namespace

Q_DECLARE_METATYPE(Action)

class tst_LogPane : public QObject
{
    Q_OBJECT

private slots:
    void appendsKeepTheirOrder();
    void clearEmptiesAndFollows();
    void followOrHold_data();
    void followOrHold();
    void selectionStartIsClamped_data();
    void selectionStartIsClamped();
    void copyGivesTextWithLineEnds();
    void typingNeverChangesTheLog();
    void accessibleText();
    void fontIsFixedPitch();
};

void tst_LogPane::appendsKeepTheirOrder()
{
    LogPane pane;
    pane.append("Send 16 1\r\n");
    pane.append("Receive 5 2\r\n");
    pane.append("Send 16 3\r\n");
    QCOMPARE(pane.text(), QByteArray("Send 16 1\r\nReceive 5 2\r\nSend 16 3\r\n"));
    QCOMPARE(pane.caret(), pane.text().size());
}

void tst_LogPane::clearEmptiesAndFollows()
{
    LogPane pane;
    pane.append("Send 16 1\r\nSend 16 2\r\n");
    pane.select(0, 4);
    QVERIFY(!pane.isFollowing());
    pane.clear();
    QCOMPARE(pane.text(), QByteArray());
    QCOMPARE(pane.content().lineCount(), 1);
    QVERIFY(pane.isFollowing());
    pane.append("Receive 1 3\r\n");
    QCOMPARE(pane.text(), QByteArray("Receive 1 3\r\n"));
    QCOMPARE(pane.caret(), pane.content().end());
}

void tst_LogPane::followOrHold_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<bool>("follows");

    const auto row = [](const char *name, Action action, bool follows) {
        QTest::newRow(name) << action << follows;
    };
    row(
        "untouched", [](LogPane &) { return QByteArray(); }, true);
    row(
        "wheel up", [](LogPane &pane) { return wheel(pane, 1), QByteArray(); }, false);
    row(
        "wheel up, then down to the end",
        [](LogPane &pane) { return wheel(pane, 2), wheel(pane, -5), QByteArray(); }, true);
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
            pane.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
            return QByteArray();
        },
        true);
    row(
        "PageUp",
        [](LogPane &pane) { return QTest::keyClick(&pane, Qt::Key_PageUp), QByteArray(); }, false);
    row(
        "Ctrl+Home",
        [](LogPane &pane) {
            return QTest::keyClick(&pane, Qt::Key_Home, Qt::ControlModifier), QByteArray();
        },
        false);
    row(
        "Ctrl+Home, Ctrl+End",
        [](LogPane &pane) {
            QTest::keyClick(&pane, Qt::Key_Home, Qt::ControlModifier);
            QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
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
        "Ctrl+A",
        [](LogPane &pane) {
            QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
            return pane.text();
        },
        false);
    row(
        "Ctrl+A, Ctrl+End",
        [](LogPane &pane) {
            QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
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
    QFETCH(Action, action);
    QFETCH(bool, follows);
    LogPane pane;
    showLikeTheWindow(pane);
    for (int i = 0; i < kFirstLines; ++i)
        pane.append(statusLine(i));
    QScrollBar *bar = pane.verticalScrollBar();
    QTRY_COMPARE(bar->maximum(), kFirstLines + 1 - bar->pageStep());
    QCOMPARE(bar->value(), bar->maximum());

    const QByteArray selects = action(pane);
    QCOMPARE(pane.selectedText(), selects);
    QCOMPARE(pane.isFollowing(), follows);
    const qint64 top = pane.topLine();
    const qint64 start = pane.selectionStart();
    const qint64 end = pane.selectionEnd();
    const qint64 caret = pane.caret();

    for (int i = kFirstLines; i < kFirstLines + kLaterLines; ++i)
        pane.append(statusLine(i));
    QTRY_COMPARE(bar->maximum(), kFirstLines + kLaterLines + 1 - bar->pageStep());
    QCOMPARE(pane.isFollowing(), follows);
    if (follows) {
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(pane.caret(), pane.content().end());
        const QRect caretRect = pane.characterRect(pane.caret());
        QVERIFY(pane.viewport()->rect().contains(caretRect.topLeft()));
    } else {
        QCOMPARE(pane.topLine(), top);
        QCOMPARE(pane.caret(), caret);
        QCOMPARE(pane.selectionStart(), start);
        QCOMPARE(pane.selectionEnd(), end);
        QCOMPARE(pane.selectedText(), selects);
    }
    pane.copy();
    if (!selects.isEmpty())
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(selects));
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

void tst_LogPane::copyGivesTextWithLineEnds()
{
    LogPane pane;
    const QByteArray held = "0000 : 1A 1A 1A 1A\r\n0001 : 00 00 00 00\r\n\r\n";
    pane.append(held);
    pane.selectAll();
    pane.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(held));
    pane.select(7, 12);
    pane.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1A 1A"));
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

void tst_LogPane::accessibleText()
{
    LogPane pane;
    pane.setAccessibleName(QStringLiteral("ステータス"));
    pane.append("Send 16 1\r\n");
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&pane);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("ステータス"));
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 11);
    QCOMPARE(text->text(0, 7), QStringLiteral("Send 16"));
    QCOMPARE(text->cursorPosition(), 11);
    QVERIFY(iface->state().readOnly);
}

void tst_LogPane::fontIsFixedPitch()
{
    QVERIFY(hasFixedAdvances(paneFont()));
    QCOMPARE(paneFont().pointSize(), 9);
}

QTEST_MAIN(tst_LogPane)
#include "tst_logpane.moc"
