// SPDX-License-Identifier: MIT
#include "engine/CommandLine.h"

#include <QProcess>
#include <QTest>

namespace {

// What a parse came to, in one line: "help", "version", the error line itself, or "run:"
// followed by only those settings that differ from a run without options.
QString summary(const CommandLine::Outcome &outcome)
{
    switch (outcome.action) {
    case CommandLine::Action::PrintHelp:
        return QStringLiteral("help");
    case CommandLine::Action::PrintVersion:
        return QStringLiteral("version");
    case CommandLine::Action::Fail:
        return outcome.text;
    case CommandLine::Action::Run:
        break;
    }
    const Settings &s = outcome.settings;
    const Settings d;
    QStringList changed;
    const auto note = [&changed](bool differs, const char *name, const QString &value) {
        if (differs)
            changed.append(QLatin1String(name) + QLatin1Char('=') + value);
    };
    note(s.bindAddress != d.bindAddress, "bind", s.bindAddress.toString());
    note(s.bindPort != d.bindPort, "bindPort", QString::number(s.bindPort));
    note(s.peerHost != d.peerHost, "peer", s.peerHost);
    note(s.peerPort != d.peerPort, "peerPort", QString::number(s.peerPort));
    note(s.period != d.period, "period", QString::number(s.period));
    note(s.sendAtStart != d.sendAtStart, "send", QString::number(s.sendAtStart));
    note(s.dumpAtStart != d.dumpAtStart, "dump", QString::number(s.dumpAtStart));
    note(s.statusLogFile != d.statusLogFile, "log", s.statusLogFile);
    note(s.dumpLogFile != d.dumpLogFile, "dumpLog", s.dumpLogFile);
    note(s.paneBudget != d.paneBudget, "budget", QString::number(s.paneBudget));
    note(s.intervalMs != d.intervalMs, "intervalMs", QString::number(s.intervalMs));
    note(s.group.interfaceName != d.group.interfaceName, "interface", s.group.interfaceName);
    note(s.group.hopLimit != d.group.hopLimit, "ttl", QString::number(s.group.hopLimit));
    note(s.group.source != d.group.source, "source", s.group.source.toString());
    note(s.headless != d.headless, "headless", QString::number(s.headless));
    note(s.durationMs != d.durationMs, "durationMs", QString::number(s.durationMs));
    note(s.jsonFile != d.jsonFile, "json", s.jsonFile);
    note(s.echo != d.echo, "echo", QString::number(s.echo));
    note(s.listAtStart != d.listAtStart, "list", QString::number(s.listAtStart));
    note(s.captureFile != d.captureFile, "capture", s.captureFile);
    note(s.captureBudget != d.captureBudget, "captureBudget", QString::number(s.captureBudget));
    note(s.graphAtStart != d.graphAtStart, "graph", QString::number(s.graphAtStart));
    return QStringLiteral("run:") + changed.join(QLatin1Char(' '));
}

QString failure(const char *option, const QByteArray &reason)
{
    return QStringLiteral("quillon: %1: %2 (try --help)\n")
        .arg(QLatin1String(option), QString::fromUtf8(reason));
}

} // namespace

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void binary_data();
    void binary();
};

void tst_CommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no options") << QStringList {} << "run:";
    QTest::newRow("help") << QStringList { "-h" } << "help";
    QTest::newRow("help wins over a bad value")
        << QStringList { "--period", "x", "--help" } << "help";
    QTest::newRow("version") << QStringList { "--version" } << "version";
    QTest::newRow("the pair's counterpart") << QStringList { "--bind", "20319", "--peer",
        "localhost:20320" } << "run:bindPort=20319 peerPort=20320";
    QTest::newRow("bind IPv4") << QStringList { "--bind=127.0.0.1:1" }
                               << "run:bind=127.0.0.1 bindPort=1";
    QTest::newRow("bind IPv4, zeros and 255")
        << QStringList { "--bind=0.10.0.255:1" } << "run:bind=0.10.0.255 bindPort=1";
    QTest::newRow("bind IPv6") << QStringList { "--bind", "[::1]:65535" }
                               << "run:bind=::1 bindPort=65535";
    QTest::newRow("peer IPv6") << QStringList { "--peer", "[fe80::1%lo]:7" }
                               << "run:peer=fe80::1%lo peerPort=7";
    QTest::newRow("peer name, leading zero")
        << QStringList { "--peer", "example.org:020319" } << "run:peer=example.org";
    QTest::newRow("period bounds, last one counts")
        << QStringList { "--period", "1000", "-period=0" } << "run:period=0";
    QTest::newRow("flags and files") << QStringList { "--send", "--dump", "--log", "a b.txt",
        "--dump-log", "-" } << "run:send=1 dump=1 log=a b.txt dumpLog=-";
    QTest::newRow("budget 0 is no limit") << QStringList { "--pane-budget", "0" } << "run:budget=0";
    QTest::newRow("budget in MiB") << QStringList { "--pane-budget", "3" } << "run:budget=3145728";
    QTest::newRow("interval, shortest")
        << QStringList { "--interval", "0.1" } << "run:intervalMs=100";
    QTest::newRow("interval, longest") << QStringList { "--interval=60" } << "run:intervalMs=60000";
    QTest::newRow("group, interface, ttl bounds") << QStringList { "--bind", "239.1.2.3:20320",
        "--interface", "eth0", "--ttl", "1", "--ttl", "255" }
                                                  << "run:bind=239.1.2.3 interface=eth0 ttl=255";
    QTest::newRow("source-specific IPv4") << QStringList { "--source", "192.0.2.7", "--bind",
        "232.1.2.3:20320" } << "run:bind=232.1.2.3 source=192.0.2.7";
    QTest::newRow("source-specific IPv6") << QStringList { "--bind", "[ff15::1:2:3]:20320",
        "--source", "2001:db8::7" } << "run:bind=ff15::1:2:3 source=2001:db8::7";
    QTest::newRow("a far end, records on stdout") << QStringList { "--headless", "--echo",
        "--duration", "0.5", "--json", "-" } << "run:headless=1 durationMs=500 json=- echo=1";
    QTest::newRow("duration, longest, with the dump to stdout")
        << QStringList { "--duration=604800", "--headless", "--dump-log", "-", "--json", "r" }
        << "run:dumpLog=- headless=1 durationMs=604800000 json=r";
    QTest::newRow("the window's echo and records")
        << QStringList { "--echo", "--json", "r.ndjson" } << "run:json=r.ndjson echo=1";
    QTest::newRow("graph") << QStringList { "--graph" } << "run:graph=1";

    // "-x" is the log file's name here, not an option.
    QTest::newRow("unknown") << QStringList { "--log", "-x", "--bogus=1" }
                             << failure("--bogus", "不明なオプションです");
    QTest::newRow("unknown single dash")
        << QStringList { "--send", "-bogus" } << failure("-bogus", "不明なオプションです");
    QTest::newRow("missing value")
        << QStringList { "--period", "10", "--log" } << failure("--log", "値がありません");
    QTest::newRow("value of a flag")
        << QStringList { "--send=yes" } << failure("--send", "このオプションは値を取りません");
    QTest::newRow("positional") << QStringList { "--dump", "extra" }
                                << failure("extra", "余分な引数です");
    QTest::newRow("positional after --")
        << QStringList { "--", "--send" } << failure("--send", "余分な引数です");
    QTest::newRow("period out of range") << QStringList { "--period", "1200" }
                                         << failure("--period", "1200 は 0〜1000 の範囲外です");
    QTest::newRow("period negative")
        << QStringList { "--period", "-1" } << failure("--period", "-1 は 0〜1000 の範囲外です");
    QTest::newRow("period not a number")
        << QStringList { "--period", "+5" } << failure("--period", "+5 は整数ではありません");
    QTest::newRow("period empty") << QStringList { "--period=" }
                                  << failure("--period", "値が空です");
    QTest::newRow("port 0") << QStringList { "--bind", "0" }
                            << failure("--bind", "0 は 1〜65535 の範囲外です");
    QTest::newRow("port past 16 bits") << QStringList { "--peer", "h:65536" }
                                       << failure("--peer", "65536 は 1〜65535 の範囲外です");
    QTest::newRow("port past 64 bits")
        << QStringList { "--bind", "99999999999999999999" }
        << failure("--bind", "99999999999999999999 は 1〜65535 の範囲外です");
    QTest::newRow("bind a name") << QStringList { "--bind", "localhost:20320" }
                                 << failure("--bind", "localhost は数値のアドレスではありません");
    QTest::newRow("bind address without port") << QStringList { "--bind",
        "127.0.0.1" } << failure("--bind", "127.0.0.1 にポートがありません");
    // Qt alone would bind the first to 1.2.0.3, and the octal-looking one to 8.1.1.1.
    const QByteArray notIpv4
        = " は IPv4 アドレスではありません (127.0.0.1 のように 4 つの数で書きます)";
    for (const char *host : { "1.2.3", "1.2.3.4.5", "1.2.3.256" }) {
        QTest::addRow("bind %s", host)
            << QStringList { "--bind", QLatin1String(host) + QLatin1String(":20320") }
            << failure("--bind", host + notIpv4);
    }
    const QByteArray octal = "010.1.1.1: 0 で始まる数は 8 進数と紛らわしいので使えません";
    QTest::newRow("bind octal-looking IPv4")
        << QStringList { "--bind", "010.1.1.1:1" } << failure("--bind", octal);
    QTest::newRow("bind hexadecimal IPv4") << QStringList { "--bind",
        "0x7f.0.0.1:1" } << failure("--bind", "0x7f.0.0.1 は数値のアドレスではありません");
    QTest::newRow("bind IPv6 without brackets") << QStringList { "--bind",
        "::1:20320" } << failure("--bind", "::1:20320: IPv6 アドレスは [ ] で囲んでください");
    QTest::newRow("peer without port")
        << QStringList { "--peer", "[::1]" } << failure("--peer", "[::1] にポートがありません");
    QTest::newRow("peer IPv4 in brackets") << QStringList { "--peer",
        "[127.0.0.1]:1" } << failure("--peer", "[127.0.0.1] は IPv6 アドレスではありません");
    QTest::newRow("peer without host")
        << QStringList { "--peer", ":20319" } << failure("--peer", ":20319 にホストがありません");
    QTest::newRow("interval 0") << QStringList { "--interval", "0" }
                                << failure("--interval", "0 は 0.1〜60 の範囲外です");
    QTest::newRow("interval past a minute") << QStringList { "--interval",
        "60.001" } << failure("--interval", "60.001 は 0.1〜60 の範囲外です");
    QTest::newRow("interval not seconds") << QStringList { "--interval",
        "1s" } << failure("--interval", "1s は秒数ではありません (0.5 のように書きます)");
    QTest::newRow("list, capture and its budget")
        << QStringList { "--list", "--capture", "run.pcap", "--capture-budget", "1" }
        << "run:list=1 capture=run.pcap captureBudget=1048576";
    QTest::newRow("capture budget past 32-bit offsets") << QStringList { "--capture-budget",
        "4096" } << failure("--capture-budget", "4096 は 1〜4095 の範囲外です");
    QTest::newRow("capture without a file")
        << QStringList { "--capture=" } << failure("--capture", "値が空です");
    QTest::newRow("budget negative") << QStringList { "--pane-budget", "-1" }
                                     << failure("--pane-budget", "-1 は 0〜1048576 の範囲外です");
    QTest::newRow("empty file") << QStringList { "--dump-log=" }
                                << failure("--dump-log", "値が空です");
    QTest::newRow("empty interface")
        << QStringList { "--interface=" } << failure("--interface", "値が空です");
    QTest::newRow("ttl 0") << QStringList { "--ttl", "0" }
                           << failure("--ttl", "0 は 1〜255 の範囲外です");
    QTest::newRow("ttl 300") << QStringList { "--ttl", "300" }
                             << failure("--ttl", "300 は 1〜255 の範囲外です");
    QTest::newRow("source without a group") << QStringList { "--bind", "127.0.0.1:20320",
        "--source", "127.0.0.1" } << failure("--source", "--bind にグループのアドレスがありません");
    QTest::newRow("source of the other family")
        << QStringList { "--bind", "239.1.2.3:20320", "--source", "2001:db8::7" }
        << failure("--source", "2001:db8::7 とグループ 239.1.2.3 のアドレスファミリーが違います");
    QTest::newRow("source a group") << QStringList { "--bind", "[ff15::1]:1", "--source",
        "ff15::2" } << failure("--source", "ff15::2 は送信元のアドレスになりません");
    QTest::newRow("source a name") << QStringList { "--bind", "239.1.2.3:1", "--source", "host" }
                                   << failure("--source", "host は数値のアドレスではありません");
    QTest::newRow("two standard outputs") << QStringList { "--log", "-", "--json",
        "-" } << failure("--json", "標準出力 (-) は --log がすでに使っています");
    QTest::newRow("two standard outputs, the dump's second")
        << QStringList { "--headless", "--dump-log=-", "--log=-" }
        << failure("--dump-log", "標準出力 (-) は --log がすでに使っています");
    QTest::newRow("duration negative") << QStringList { "--headless", "--duration", "-1" }
                                       << failure("--duration", "-1 は 0〜604800 の範囲外です");
    QTest::newRow("duration past a week") << QStringList { "--headless",
        "--duration=604800.001" } << failure("--duration", "604800.001 は 0〜604800 の範囲外です");
    QTest::newRow("duration without --headless") << QStringList { "--duration",
        "30" } << failure("--duration", "--headless なしでは使えません");
    QTest::newRow("empty records file")
        << QStringList { "--json=" } << failure("--json", "値が空です");
}

void tst_CommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    arguments.prepend(QStringLiteral("/usr/bin/quillon"));
    QCOMPARE(summary(CommandLine::parse(arguments)), expected);
}

// The real binary in an environment with no display at all.
void tst_CommandLine::binary_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutStart");
    QTest::addColumn<QString>("stderrStart");

    // Qt's own heading comes from its Japanese translations, whatever the locale.
    QTest::newRow("help")
        << QStringList { "--help" } << QString() << 0
        << "使い方: quillon [オプション]\n"
           "UDP データグラムを一定の周期で送り、送受信を記録するウィンドウを開きま"
           "す。\n\nオプション:\n"
        << QString();
    QTest::newRow("version") << QStringList { "-v" } << QString() << 0 << "quillon 0." << QString();
    QTest::newRow("bogus") << QStringList { "--bogus" } << QString() << 2 << QString()
                           << "quillon: --bogus: ";
    QTest::newRow("two standard outputs") << QStringList { "--headless", "--json=-", "--log=-" }
                                          << QString() << 2 << QString() << "quillon: --json: ";
    QTest::newRow("no display") << QStringList {} << QString() << 1 << QString()
                                << "quillon: ウィンドウを開けません: DISPLAY";
    // Qt ends in qFatal and an abort when the connection itself fails.
    QTest::newRow("display refuses") << QStringList {} << "quillon-no-such-display" << 1
                                     << QString() << "quillon: ウィンドウを開けません: ";
}

void tst_CommandLine::binary()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutStart);
    QFETCH(QString, stderrStart);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    if (!display.isEmpty())
        environment.insert(QStringLiteral("DISPLAY"), display);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUILLON_BINARY), arguments);
    QVERIFY2(process.waitForFinished(), qPrintable(process.errorString()));

    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(
        out.startsWith(stdoutStart) && out.isEmpty() == stdoutStart.isEmpty(), qPrintable(out));
    // Exactly one line, and only when something failed.
    QVERIFY2(err.startsWith(stderrStart) && err.count(QLatin1Char('\n')) == (exitCode ? 1 : 0)
            && err.endsWith(QLatin1Char('\n')) == bool(exitCode),
        qPrintable(err));
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
