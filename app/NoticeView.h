// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QWidget>

class QTextLayout;

// A notice in red that wraps to any width: at word boundaries where it can, and anywhere inside
// a word longer than the width, such as a long path. It never asks for more width than it is
// given, so the window is never widened by it, and its height for a width is the whole text.
class NoticeView : public QWidget
{
    Q_OBJECT

public:
    explicit NoticeView(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // Lays the text out in the width and returns its height.
    int layOut(QTextLayout &layout, int width) const;

    QString m_text;
};
