// SPDX-License-Identifier: MIT
// Drives a log pane with an arbitrary sequence of operations and holds it against a plain
// string: its text, its selection, whether it follows its end and what it copies must always
// agree with the model.
#include "pane/LogPane.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads the operation stream; past its end every read gives zeros.
class Input
{
public:
    Input(const uint8_t *data, size_t size)
        : m_data(data)
        , m_size(size)
    { }
    bool atEnd() const { return m_offset >= m_size; }
    uint8_t byte() { return m_offset < m_size ? m_data[m_offset++] : 0; }
    qint32 int32()
    {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | byte();
        return qint32(value);
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_offset = 0;
};

LogPane *pane = nullptr;

struct Model
{
    QByteArray text;
    qint64 anchor = 0;
    qint64 caret = 0;
    bool following = true;
    QString clipboard;

    qint64 clamp(qint64 position) const { return std::clamp<qint64>(position, 0, text.size()); }
    // After a user action: the caret is in view, so the pane follows exactly when nothing is
    // selected and the caret is at the end.
    void userActed() { following = anchor == caret && caret == text.size(); }
};

void pressKey(int key, Qt::KeyboardModifiers modifiers)
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(pane, &event);
}

void sendMouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, pane->viewport()->mapToGlobal(at), Qt::LeftButton, buttons, {});
    QApplication::sendEvent(pane->viewport(), &event);
}

// For moves whose target the model does not compute: the selection must lie in the text, and
// the pane follows exactly when nothing is selected and the caret is at the end in view.
void adoptSelection(Model &model)
{
    model.anchor = pane->selectionStart() + pane->selectionEnd() - pane->caret();
    model.caret = pane->caret();
    check(model.clamp(model.anchor) == model.anchor && model.clamp(model.caret) == model.caret);
    if (pane->isFollowing())
        check(model.anchor == model.caret && model.caret == model.text.size());
    model.following = pane->isFollowing();
}

// The panes hold ASCII: printable characters and CR LF line ends.
QByteArray lineFrom(Input &input)
{
    QByteArray line(input.byte() % 96, Qt::Uninitialized);
    for (char &c : line)
        c = char(' ' + input.byte() % 95);
    if (input.byte() & 1)
        line += "\r\n";
    return line;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv); // lives as long as the fuzzer
    pane = new LogPane;
    pane->resize(200, 120);
    pane->show();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input(data, size);
    Model model;
    pane->clear();
    QGuiApplication::clipboard()->clear();
    while (!input.atEnd()) {
        switch (input.byte() % 10) {
        case 0: { // lines arrive: a held pane keeps its view, caret and selection
            const QByteArray line = lineFrom(input);
            const qint64 top = pane->topLine();
            pane->append(line);
            model.text += line;
            if (model.following)
                model.anchor = model.caret = model.text.size();
            else
                check(pane->topLine() == top);
            break;
        }
        case 1: { // Ctrl+Home, Ctrl+End, with or without Shift
            const uint8_t choice = input.byte();
            const bool toEnd = choice & 1;
            const bool shift = choice & 2;
            pressKey(toEnd ? Qt::Key_End : Qt::Key_Home,
                Qt::ControlModifier | (shift ? Qt::ShiftModifier : Qt::NoModifier));
            model.caret = toEnd ? model.text.size() : 0;
            if (!shift)
                model.anchor = model.caret;
            model.userActed();
            break;
        }
        case 2:
            pane->clear();
            model = { {}, 0, 0, true, model.clipboard };
            break;
        case 3: {
            const qint64 position = input.int32();
            pane->setSelectionStart(position);
            model.anchor = model.caret = model.clamp(position);
            model.userActed();
            break;
        }
        case 4: {
            const qint64 anchor = input.int32();
            const qint64 caret = input.int32();
            pane->select(anchor, caret);
            model.anchor = model.clamp(anchor);
            model.caret = model.clamp(caret);
            model.userActed();
            break;
        }
        case 5: {
            pane->copy();
            const qint64 start = std::min(model.anchor, model.caret);
            const qint64 end = std::max(model.anchor, model.caret);
            if (end > start)
                model.clipboard = QString::fromLatin1(model.text.mid(start, end - start));
            check(QGuiApplication::clipboard()->text() == model.clipboard);
            break;
        }
        case 6: // paint whatever is in view now
            pane->grab();
            break;
        case 7:
            pressKey(Qt::Key_A, Qt::ControlModifier);
            model.anchor = 0;
            model.caret = model.text.size();
            model.userActed();
            break;
        case 8: { // any move key: the model takes the pane's word for where the caret went
            constexpr Qt::Key kKeys[] = { Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down,
                Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown };
            const uint8_t choice = input.byte();
            pressKey(kKeys[choice % 8],
                (choice & 8 ? Qt::ShiftModifier : Qt::NoModifier)
                    | (choice & 16 ? Qt::ControlModifier : Qt::NoModifier));
            adoptSelection(model);
            break;
        }
        case 9: { // a drag between two points, either of them maybe outside the view
            const auto point
                = [&input] { return QPoint(int(input.byte()) - 28, int(input.byte()) - 28); };
            const QPoint from = point();
            const QPoint to = point();
            sendMouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
            sendMouse(QEvent::MouseMove, to, Qt::LeftButton);
            sendMouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
            adoptSelection(model);
            break;
        }
        }
        check(pane->text() == model.text);
        check(pane->selectionStart() == std::min(model.anchor, model.caret));
        check(pane->selectionEnd() == std::max(model.anchor, model.caret));
        check(pane->isFollowing() == model.following);
    }
    return 0;
}
