// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>
#include <QUdpSocket>

// What the tests share: the tool's fixed ports, whether the local one is free, and settings kept
// away from the user's.
namespace TestSupport {

// The tool binds the first and sends to the second.
constexpr quint16 kLocalPort = 20320;
constexpr quint16 kPeerPort = 20319;

// Whether the next copy of the tool could bind the port on every address.
inline bool portIsFree(quint16 port = kLocalPort)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::Any, port);
}

// For as long as it lives, what Qt remembers (a file dialog's history) goes to Qt's test folder,
// ~/.qttest, instead of the user's settings; that folder goes again when it was not there before.
class TestModeSettings
{
public:
    TestModeSettings() { QStandardPaths::setTestModeEnabled(true); }
    ~TestModeSettings()
    {
        if (!m_existed)
            QDir(m_root).removeRecursively();
    }
    TestModeSettings(const TestModeSettings &) = delete;
    TestModeSettings &operator=(const TestModeSettings &) = delete;

private:
    const QString m_root = QDir::home().filePath(QStringLiteral(".qttest"));
    const bool m_existed = QFileInfo::exists(m_root);
};

} // namespace TestSupport
