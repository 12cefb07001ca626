// SPDX-License-Identifier: MIT
#pragma once

#include "net/HostLookup.h"

#include <QStringList>

// A resolver that answers only when told to.
class ScriptedLookup final : public HostLookup
{
public:
    explicit ScriptedLookup(LookupAnswer answer = {})
        : m_answer(std::move(answer))
    { }
    void lookUp(const QString &host) override { asked << host; }
    void answer() { emit answered(m_answer); }

    QStringList asked;

private:
    const LookupAnswer m_answer;
};
