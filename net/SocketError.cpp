// SPDX-License-Identifier: MIT
#include "SocketError.h"

SocketError SocketError::fromErrno(int code)
{
    return SocketError { code, qt_error_string(code) };
}
