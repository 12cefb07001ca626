// SPDX-License-Identifier: MIT
#include "pane/PaneMimeData.h"

#include "pane/LogPane.h"

#include <new>

namespace {

QString plainText()
{
    return QStringLiteral("text/plain");
}

} // namespace

PaneMimeData::PaneMimeData(const LogPane &pane, qint64 from, qint64 to)
    : m_pane(&pane)
    , m_from(from)
    , m_to(to)
    , m_generation(pane.content().generation())
{ }

QStringList PaneMimeData::formats() const
{
    return { plainText() };
}

bool PaneMimeData::hasFormat(const QString &mimeType) const
{
    return mimeType == plainText();
}

QVariant PaneMimeData::retrieveData(const QString &mimeType, QMetaType) const
{
    if (mimeType != plainText() || !m_pane || m_pane->content().generation() != m_generation)
        return {};
    // The bytes as they are: Qt hands text/plain on to a program asking for UTF8_STRING as it
    // is, and ASCII needs no conversion. What was let go since is simply no longer there, and
    // after a clear nothing is.
    try {
        return m_pane->copyText(m_from, m_to);
    } catch (const std::bad_alloc &) {
        return {};
    }
}
