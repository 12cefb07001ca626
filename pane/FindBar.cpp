// SPDX-License-Identifier: MIT
#include "pane/FindBar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace {

constexpr auto kFindCaption = "検索";
constexpr auto kSearchingCaption = "検索中…";
constexpr auto kNotFoundCaption = "見つかりません";
constexpr auto kWrappedToStartCaption = "先頭から検索しました";
constexpr auto kWrappedToEndCaption = "末尾から検索しました";
constexpr int kSpacing = 4;
constexpr int kFieldWidth = 60;

} // namespace

FindBar::FindBar(QWidget *parent)
    : QWidget(parent)
    , m_field(new QLineEdit(this))
    , m_notice(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(kSpacing, 1, kSpacing, 1);
    layout->setSpacing(kSpacing);
    auto *label = new QLabel(QString::fromUtf8(kFindCaption), this);
    label->setBuddy(m_field);
    layout->addWidget(label);
    layout->addWidget(m_field, 1);
    layout->addWidget(m_notice);
    m_field->setAccessibleName(QString::fromUtf8(kFindCaption));
    m_field->setMinimumWidth(kFieldWidth);
    m_field->installEventFilter(this);
    fitNotice();
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
}

QByteArray FindBar::needle() const
{
    return m_field->text().toUtf8();
}

void FindBar::activate()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBar::setNotice(Notice notice)
{
    const char *text = "";
    switch (notice) {
    case Notice::None:
        break;
    case Notice::Searching:
        text = kSearchingCaption;
        break;
    case Notice::NotFound:
        text = kNotFoundCaption;
        break;
    case Notice::WrappedToStart:
        text = kWrappedToStartCaption;
        break;
    case Notice::WrappedToEnd:
        text = kWrappedToEndCaption;
        break;
    }
    m_noticeText = QString::fromUtf8(text);
    fitNotice();
}

void FindBar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitNotice();
}

void FindBar::fitNotice()
{
    // Room for "not found" in full, the notice that matters most; a longer one is cut short
    // and its tooltip has all of it.
    const QFontMetrics metrics = m_notice->fontMetrics();
    m_notice->setFixedWidth(metrics.horizontalAdvance(QString::fromUtf8(kNotFoundCaption)));
    const QString shown = metrics.elidedText(m_noticeText, Qt::ElideRight, m_notice->width());
    m_notice->setText(shown);
    m_notice->setToolTip(shown == m_noticeText ? QString() : m_noticeText);
    m_notice->setAccessibleName(m_noticeText);
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_field || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool shift = key->modifiers().testFlag(Qt::ShiftModifier);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F3:
        if (shift)
            emit findPrevious();
        else
            emit findNext();
        return true;
    case Qt::Key_Escape:
        emit closeRequested();
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}
