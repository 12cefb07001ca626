// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

// The find field a log pane opens inside its own area: Enter or F3 asks for the next match,
// Shift+Enter or Shift+F3 for the previous one, Escape closes it. The notice beside the field
// has a width of its own, so that the field keeps its width whatever the notice says.
class FindBar : public QWidget
{
    Q_OBJECT

public:
    enum class Notice { None, Searching, NotFound, WrappedToStart, WrappedToEnd };

    explicit FindBar(QWidget *parent = nullptr);

    QByteArray needle() const;
    // Focuses the field with its text selected, so that typing replaces it.
    void activate();
    void setNotice(Notice notice);

signals:
    void findNext();
    void findPrevious();
    void closeRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void fitNotice();

    QLineEdit *const m_field;
    QLabel *const m_notice;
    QString m_noticeText; // whole, where the label may show it cut short
};
