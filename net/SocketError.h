// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// A failed socket call: the operating system's error number and its text, taken at the moment
// the call failed.
struct SocketError
{
    int code = 0;
    QString description;

    static SocketError fromErrno(int code);
};

// Empty when the call succeeded.
using SocketResult = std::optional<SocketError>;
