// SPDX-License-Identifier: MIT
#include "LogPane.h"
#include "PaneFont.h"
#include "PaneOps.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

#include <limits>

class tst_LogPane : public QObject
{
    Q_OBJECT

private slots:
    void appendsKeepTheirOrder();
    void clearEmpties();
    void appendAfterUserSelectionLandsAtEnd();
    void selectionStartIsClamped_data();
    void selectionStartIsClamped();
    void copyGivesTextWithLineEnds();
    void keyboardSelectAllAndCopy();
    void typingNeverChangesTheLog();
    void showsItsEndAfterAppends();
    void doubleClickSelectsWord();
    void shiftClickExtendsSelection();
    void accessibleText();
    void fontIsFixedPitch();
};

void tst_LogPane::appendsKeepTheirOrder()
{
    LogPane pane;
    AppendToPane(pane, "Send 16 1\r\n");
    AppendToPane(pane, "Receive 5 2\r\n");
    AppendToPane(pane, "Send 16 3\r\n");
    QCOMPARE(pane.text(), QByteArray("Send 16 1\r\nReceive 5 2\r\nSend 16 3\r\n"));
    QCOMPARE(pane.caret(), pane.text().size());
}

void tst_LogPane::clearEmpties()
{
    LogPane pane;
    AppendToPane(pane, "Send 16 1\r\nSend 16 2\r\n");
    ClearPane(pane);
    QCOMPARE(pane.text(), QByteArray());
    QCOMPARE(pane.content().lineCount(), 1);
    AppendToPane(pane, "Receive 1 3\r\n");
    QCOMPARE(pane.text(), QByteArray("Receive 1 3\r\n"));
}

void tst_LogPane::appendAfterUserSelectionLandsAtEnd()
{
    LogPane pane;
    pane.resize(300, 200);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    AppendToPane(pane, "Send 16 1\r\nSend 16 2\r\nSend 16 3\r\n");

    // The user clicks into the first line, then drags over the second.
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(3 * pane.charWidth(), 2));
    QVERIFY(pane.caret() > 0 && pane.caret() < 11);
    pane.select(11, 20);
    QCOMPARE(pane.selectedText(), QByteArray("Send 16 2"));

    AppendToPane(pane, "Receive 4 4\r\n");
    QCOMPARE(pane.text(), QByteArray("Send 16 1\r\nSend 16 2\r\nSend 16 3\r\nReceive 4 4\r\n"));
    QCOMPARE(pane.caret(), pane.text().size());
    QCOMPARE(pane.selectionStart(), pane.selectionEnd());
}

void tst_LogPane::selectionStartIsClamped_data()
{
    QTest::addColumn<qint64>("requested");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("negative") << qint64(-5) << qint64(0);
    QTest::newRow("inside") << qint64(3) << qint64(3);
    QTest::newRow("end") << qint64(10) << qint64(10);
    QTest::newRow("past end") << qint64(11) << qint64(10);
    QTest::newRow("largest int32") << qint64(std::numeric_limits<qint32>::max()) << qint64(10);
}

void tst_LogPane::selectionStartIsClamped()
{
    QFETCH(qint64, requested);
    QFETCH(qint64, expected);
    LogPane pane;
    pane.setText("Send 16 1\n");
    pane.setSelectionStart(requested);
    QCOMPARE(pane.caret(), expected);
    QCOMPARE(pane.selectionStart(), expected);
    QCOMPARE(pane.selectionEnd(), expected);
}

void tst_LogPane::copyGivesTextWithLineEnds()
{
    LogPane pane;
    const QByteArray held = "0000 : 1A 1A 1A 1A\r\n0001 : 00 00 00 00\r\n\r\n";
    AppendToPane(pane, held);
    pane.selectAll();
    pane.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(held));
    pane.select(7, 12);
    pane.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1A 1A"));
}

void tst_LogPane::keyboardSelectAllAndCopy()
{
    LogPane pane;
    AppendToPane(pane, "Send 16 1\r\nReceive 0 2\r\n");
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&pane, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Send 16 1\r\nReceive 0 2\r\n"));
    QTest::keyClick(&pane, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(pane.caret(), 0);
    QTest::keyClick(&pane, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(pane.caret(), pane.text().size());
}

void tst_LogPane::typingNeverChangesTheLog()
{
    LogPane pane;
    AppendToPane(pane, "Send 16 1\r\n");
    pane.selectAll();
    QTest::keyClicks(&pane, "xyz");
    QTest::keyClick(&pane, Qt::Key_Backspace);
    QTest::keyClick(&pane, Qt::Key_Delete);
    QTest::keyClick(&pane, Qt::Key_Return);
    QTest::keyClick(&pane, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(pane.text(), QByteArray("Send 16 1\r\n"));
}

void tst_LogPane::showsItsEndAfterAppends()
{
    LogPane pane;
    pane.resize(233, 161);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    for (int i = 0; i < 500; ++i)
        AppendToPane(pane, "Receive 16 " + QByteArray::number(i) + "\r\n");
    QScrollBar *bar = pane.verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 400);
    QTRY_COMPARE(bar->value(), bar->maximum());
    const QRect caretRect = pane.characterRect(pane.caret());
    QVERIFY(pane.viewport()->rect().contains(caretRect.topLeft()));
}

void tst_LogPane::doubleClickSelectsWord()
{
    LogPane pane;
    pane.resize(300, 100);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    AppendToPane(pane, "Receive 16 7654321\r\n");
    QTRY_COMPARE(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->maximum());
    const QPoint inTick = pane.characterRect(13).center();
    QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, inTick);
    QCOMPARE(pane.selectedText(), QByteArray("7654321"));
}

void tst_LogPane::shiftClickExtendsSelection()
{
    LogPane pane;
    pane.resize(300, 100);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.setText("Send 16 1\r\nSend 16 2\r\n");
    QTest::qWait(50);
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, pane.characterRect(0).topLeft());
    QTest::mouseClick(
        pane.viewport(), Qt::LeftButton, Qt::ShiftModifier, pane.characterRect(15).topLeft());
    QCOMPARE(pane.selectedText(), QByteArray("Send 16 1\r\nSend"));
}

void tst_LogPane::accessibleText()
{
    LogPane pane;
    pane.setAccessibleName(QStringLiteral("ステータス"));
    AppendToPane(pane, "Send 16 1\r\n");
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
