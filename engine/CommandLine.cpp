// SPDX-License-Identifier: MIT
#include "engine/CommandLine.h"

#include "engine/DatagramRing.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <optional>
#include <utility>

namespace CommandLine {
namespace {

constexpr char kProgram[] = "quillon";
constexpr char kVersion[] = QUILLON_VERSION;
constexpr qint64 kMinPort = 1;
constexpr qint64 kMaxPort = 65535;
constexpr int kIpv4Parts = 4;
constexpr int kIpv4PartDigits = 3;
constexpr int kIpv4PartMax = 255;
constexpr qint64 kMebibyte = qint64(1024) * 1024;
// A tebibyte per pane is far past any machine's memory, and keeps the bytes well inside qint64.
constexpr qint64 kMaxPaneBudgetMiB = qint64(1024) * 1024;
constexpr qint64 kMinCaptureBudgetMiB = DatagramRing::kSmallestBudget / kMebibyte;
constexpr qint64 kMaxCaptureBudgetMiB = DatagramRing::kLargestBudget / kMebibyte;

// Every text the command line prints, in one place. %1 is a value as typed.
namespace Text {
constexpr char kUsage[] = "使い方: %1 [オプション]\n";
constexpr char kDescription[]
    = "UDP データグラムを一定の周期で送り、送受信を記録するウィンドウを開きます。";
constexpr char kHelp[] = "この説明を表示して終了します。";
constexpr char kVersionOption[] = "バージョンを表示して終了します。";
// Qt wraps descriptions by characters, not by columns, so the wide ones carry their own breaks
// to fit 80 columns.
constexpr char kBind[] = "受信するアドレスとポート\n"
                         "(既定: すべてのアドレス、ポート %1)。\n"
                         "アドレスは数値で、IPv4 は 127.0.0.1:%1、\n"
                         "IPv6 は [::1]:%1 のように書きます。\n"
                         "グループのアドレスなら、そのグループに参加します。";
constexpr char kPeer[] = "送信先のホスト名またはアドレスとポート\n"
                         "(既定: %1:%2)。\n"
                         "IPv6 アドレスは [ ] で囲みます。";
constexpr char kPeriod[] = "送信周期 (ミリ秒、%1〜%2、既定: %3)。\n"
                           "0 では送信しません。";
constexpr char kSend[] = "起動してすぐに送信を始めます\n"
                         "(送信ボタンを押したのと同じ)。";
constexpr char kDump[] = "「ダンプする」をチェックした状態で起動します。";
constexpr char kLog[] = "ステータス欄の各行を FILE に追記します\n"
                        "(- は標準出力)。";
constexpr char kDumpLog[] = "ダンプ欄の各行を FILE に追記します\n"
                            "(- は標準出力)。";
constexpr char kInterval[] = "リンクの計測値を記録する区間の長さ\n"
                             "(秒、%1〜%2、既定: %3)。";
constexpr char kGraph[] = "起動してすぐにグラフのウィンドウを開きます\n"
                          "(表示 → グラフと同じ)。";
constexpr char kPaneBudget[] = "各欄が使うメモリの上限\n"
                               "(MiB、既定: %1)。0 は上限なし。";
constexpr char kInterface[] = "グループに参加し、グループへ送る\n"
                              "インターフェース (既定: 経路が選ぶもの)。";
constexpr char kTtl[] = "グループへ送るデータグラムのホップ数\n"
                        "(%1〜%2、既定: %3)。";
constexpr char kSource[] = "--bind のグループを ADDRESS からの\n"
                           "データグラムだけに絞って参加します。";
constexpr char kHeadless[] = "ウィンドウを開かずに実行します (ディスプレイ不要)。\n"
                             "区間ごとの計測値と最後の集計を標準出力に\n"
                             "書きます。";
constexpr char kDuration[] = "実行する時間 (秒、0〜%1、既定: 0 = 止めるまで)。\n"
                             "--headless と一緒に使います。";
constexpr char kJson[] = "開始・各区間・終了の記録を 1 行に 1 つの\n"
                         "JSON で FILE に書きます (- は標準出力)。";
constexpr char kEcho[] = "ピアのホストから届いたデータグラムを\n"
                         "そのまま送り元へ送り返します。";
constexpr char kList[] = "起動してすぐにデータグラム一覧を開きます。";
constexpr char kCapture[] = "送受信したすべてのデータグラムを pcap 形式で\n"
                            "FILE に書き込みます (FILE は上書きされます)。";
constexpr char kCaptureBudget[] = "データグラム一覧が使うメモリの上限\n"
                                  "(MiB、%1〜%2、既定: %3)。古いものから消えます。";

// After the version: the binary links QCustomPlot, whose licence is the GPL.
constexpr char kLicence[]
    = "ライセンス: GPL-3.0-or-later <https://www.gnu.org/licenses/gpl-3.0.html>\n"
      "グラフの描画に GPL の QCustomPlot を使うため、"
      "このプログラムは GPL-3.0-or-later で配布されます。\n"
      "Quillon 自身のソースコードは MIT ライセンスです。\n"
      "これはフリーソフトウェアです。変更・再配布は自由です。法律で許される限り、無保証です。\n";

constexpr char kFailure[] = "%1: %2: %3 (try --help)\n";
constexpr char kUnknownOption[] = "不明なオプションです";
constexpr char kMissingValue[] = "値がありません";
constexpr char kUnexpectedValue[] = "このオプションは値を取りません";
constexpr char kPositional[] = "余分な引数です";
constexpr char kEmpty[] = "値が空です";
constexpr char kNotInteger[] = "%1 は整数ではありません";
constexpr char kOutOfRange[] = "%1 は %2〜%3 の範囲外です";
constexpr char kNotSeconds[] = "%1 は秒数ではありません (0.5 のように書きます)";
constexpr char kNoPort[] = "%1 にポートがありません";
constexpr char kNotNumericAddress[] = "%1 は数値のアドレスではありません";
constexpr char kNotDottedQuad[]
    = "%1 は IPv4 アドレスではありません (127.0.0.1 のように 4 つの数で書きます)";
constexpr char kLeadingZero[] = "%1: 0 で始まる数は 8 進数と紛らわしいので使えません";
constexpr char kNotIpv6[] = "%1 は IPv6 アドレスではありません";
constexpr char kUnbracketedIpv6[] = "%1: IPv6 アドレスは [ ] で囲んでください";
constexpr char kNoHost[] = "%1 にホストがありません";
constexpr char kBadHost[] = "%1 はホスト名として使えません";
constexpr char kSourceWithoutGroup[] = "--bind にグループのアドレスがありません";
constexpr char kSourceOtherFamily[] = "%1 とグループ %2 のアドレスファミリーが違います";
constexpr char kNotSource[] = "%1 は送信元のアドレスになりません";
constexpr char kStandardOutputTaken[] = "標準出力 (-) は %1 がすでに使っています";
constexpr char kNeedsHeadless[] = "--headless なしでは使えません";
} // namespace Text

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// What went wrong with one option's value; the first one found is reported.
struct Complaint
{
    QString option;
    QString reason;
};

// A value split at its port: "host:port", "[v6]:port" or, where the host may be left out, "port".
struct Endpoint
{
    QString host;
    bool bracketed = false;
    QString port;
};

// Digits only, with an optional minus sign so that "-1" reads as out of range rather than as
// not a number; QString::toLongLong alone would also take blanks and a plus sign.
QString seconds(int milliseconds)
{
    return QString::number(double(milliseconds) / 1000, 'g', 6);
}

// Seconds as digits with at most three decimals ("0.1", "2", "60"), to whole milliseconds. A
// minus sign reads as out of range rather than as not a number.
std::optional<int> readSeconds(const QString &value, int minMs, int maxMs, QString &reason)
{
    static const QRegularExpression form(QStringLiteral("^-?\\d{1,9}(\\.\\d{1,3})?$"));
    if (!form.match(value).hasMatch()) {
        reason = value.isEmpty() ? text(Text::kEmpty) : text(Text::kNotSeconds).arg(value);
        return std::nullopt;
    }
    const qint64 ms = qRound64(value.toDouble() * 1000);
    if (value.startsWith(QLatin1Char('-')) || ms < minMs || ms > maxMs) {
        reason = text(Text::kOutOfRange).arg(value, seconds(minMs), seconds(maxMs));
        return std::nullopt;
    }
    return int(ms);
}

std::optional<qint64> readInteger(const QString &value, qint64 min, qint64 max, QString &reason)
{
    const qsizetype start = value.startsWith(QLatin1Char('-')) ? 1 : 0;
    bool digits = value.size() > start;
    for (qsizetype i = start; i < value.size() && digits; ++i)
        digits = value.at(i) >= QLatin1Char('0') && value.at(i) <= QLatin1Char('9');
    if (!digits) {
        reason = value.isEmpty() ? text(Text::kEmpty) : text(Text::kNotInteger).arg(value);
        return std::nullopt;
    }
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    if (!ok || number < min || number > max) {
        reason = text(Text::kOutOfRange).arg(value).arg(min).arg(max);
        return std::nullopt;
    }
    return number;
}

std::optional<Endpoint> splitEndpoint(const QString &value, bool hostRequired, QString &reason)
{
    if (value.isEmpty()) {
        reason = text(Text::kEmpty);
        return std::nullopt;
    }
    Endpoint endpoint;
    if (value.startsWith(QLatin1Char('['))) {
        const qsizetype close = value.indexOf(QLatin1Char(']'));
        endpoint.host = value.mid(1, close - 1);
        endpoint.bracketed = true;
        QHostAddress address;
        if (close < 0 || !address.setAddress(endpoint.host)
            || address.protocol() != QAbstractSocket::IPv6Protocol) {
            reason = text(Text::kNotIpv6).arg(value.left(close < 0 ? value.size() : close + 1));
            return std::nullopt;
        }
        const QString rest = value.mid(close + 1);
        endpoint.port = rest.mid(1);
        if (!rest.startsWith(QLatin1Char(':')) || endpoint.port.isEmpty()) {
            reason = text(Text::kNoPort).arg(value);
            return std::nullopt;
        }
        return endpoint;
    }
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        // "--bind 127.0.0.1" is an address that lacks its port, not a bad port. The dot tells:
        // a bare number such as 20319 would read as an address too.
        if (hostRequired
            || (value.contains(QLatin1Char('.')) && QHostAddress().setAddress(value))) {
            reason = text(Text::kNoPort).arg(value);
            return std::nullopt;
        }
        endpoint.port = value;
        return endpoint;
    }
    endpoint.host = value.left(colon);
    endpoint.port = value.mid(colon + 1);
    if (endpoint.port.isEmpty()) {
        reason = text(Text::kNoPort).arg(value);
        return std::nullopt;
    }
    if (endpoint.host.contains(QLatin1Char(':'))) {
        reason = text(Text::kUnbracketedIpv6).arg(value);
        return std::nullopt;
    }
    if (endpoint.host.isEmpty()) {
        reason = text(Text::kNoHost).arg(value);
        return std::nullopt;
    }
    return endpoint;
}

class Reader
{
public:
    Reader()
    {
        m_parser.setApplicationDescription(text(Text::kDescription));
        // "-bogus" is one unknown option, as users of other Qt tools expect, not six letters.
        m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const QCommandLineOption *option : m_options)
            m_parser.addOption(*option);
    }

    Outcome read(const QStringList &arguments)
    {
        const QString program = programName(arguments);
        if (!m_parser.parse(arguments))
            return failure(program, parseComplaint(arguments));
        if (m_parser.isSet(m_help)) {
            // Qt's own usage line would name "<executable_name>" here, as no application
            // object exists yet.
            const QString help = m_parser.helpText();
            return { Action::PrintHelp, {},
                text(Text::kUsage).arg(program) + help.mid(help.indexOf(QLatin1Char('\n')) + 1) };
        }
        if (m_parser.isSet(m_version))
            return { Action::PrintVersion, {},
                QStringLiteral("%1 %2\n").arg(program, kVersion) + text(Text::kLicence) };
        if (const QStringList extra = m_parser.positionalArguments(); !extra.isEmpty())
            return failure(program, { extra.first(), text(Text::kPositional) });
        Settings settings;
        if (const std::optional<Complaint> complaint = readSettings(settings))
            return failure(program, *complaint);
        return { Action::Run, settings, {} };
    }

private:
    static Outcome failure(const QString &program, const Complaint &complaint)
    {
        return { Action::Fail, {},
            text(Text::kFailure).arg(program, complaint.option, complaint.reason) };
    }

    static QString typed(const QCommandLineOption &option)
    {
        return QLatin1String("--") + option.names().last();
    }

    std::optional<Complaint> readSettings(Settings &settings)
    {
        if (m_parser.isSet(m_bind)) {
            const auto endpoint = splitEndpoint(m_parser.value(m_bind), false, m_reason);
            if (!endpoint || !readBindAddress(*endpoint, settings.bindAddress)
                || !readPort(endpoint->port, settings.bindPort))
                return Complaint { typed(m_bind), m_reason };
        }
        if (m_parser.isSet(m_peer)) {
            const auto endpoint = splitEndpoint(m_parser.value(m_peer), true, m_reason);
            if (!endpoint || !readPeerHost(*endpoint, settings.peerHost)
                || !readPort(endpoint->port, settings.peerPort))
                return Complaint { typed(m_peer), m_reason };
        }
        if (m_parser.isSet(m_period)) {
            const auto period = readInteger(
                m_parser.value(m_period), Settings::kMinPeriod, Settings::kMaxPeriod, m_reason);
            if (!period)
                return Complaint { typed(m_period), m_reason };
            settings.period = int(*period);
        }
        if (m_parser.isSet(m_interval)) {
            const auto interval = readSeconds(m_parser.value(m_interval), Settings::kMinIntervalMs,
                Settings::kMaxIntervalMs, m_reason);
            if (!interval)
                return Complaint { typed(m_interval), m_reason };
            settings.intervalMs = *interval;
        }
        if (m_parser.isSet(m_paneBudget)) {
            const auto mebibytes
                = readInteger(m_parser.value(m_paneBudget), 0, kMaxPaneBudgetMiB, m_reason);
            if (!mebibytes)
                return Complaint { typed(m_paneBudget), m_reason };
            settings.paneBudget = *mebibytes * kMebibyte;
        }
        if (const std::optional<Complaint> complaint = readCaptureSettings(settings))
            return complaint;
        if (!readFile(m_log, settings.statusLogFile))
            return Complaint { typed(m_log), m_reason };
        if (!readFile(m_dumpLog, settings.dumpLogFile))
            return Complaint { typed(m_dumpLog), m_reason };
        if (!readFile(m_interface, settings.group.interfaceName))
            return Complaint { typed(m_interface), m_reason };
        if (m_parser.isSet(m_ttl)) {
            const auto hops = readInteger(m_parser.value(m_ttl), GroupOptions::kMinHopLimit,
                GroupOptions::kMaxHopLimit, m_reason);
            if (!hops)
                return Complaint { typed(m_ttl), m_reason };
            settings.group.hopLimit = int(*hops);
        }
        if (m_parser.isSet(m_source) && !readSource(settings))
            return Complaint { typed(m_source), m_reason };
        settings.sendAtStart = m_parser.isSet(m_send);
        settings.dumpAtStart = m_parser.isSet(m_dump);
        return readRunSettings(settings);
    }

    // The window-less run, its records and the echo.
    std::optional<Complaint> readRunSettings(Settings &settings)
    {
        settings.headless = m_parser.isSet(m_headless);
        settings.echo = m_parser.isSet(m_echo);
        if (m_parser.isSet(m_duration)) {
            const auto duration
                = readSeconds(m_parser.value(m_duration), 0, Settings::kMaxDurationMs, m_reason);
            if (!duration)
                return Complaint { typed(m_duration), m_reason };
            // A window is closed by its user; a timer closing it would surprise.
            if (!settings.headless)
                return Complaint { typed(m_duration), text(Text::kNeedsHeadless) };
            settings.durationMs = *duration;
        }
        if (!readFile(m_json, settings.jsonFile))
            return Complaint { typed(m_json), m_reason };
        // Two writers on one stream would interleave their lines.
        const std::array<std::pair<const QCommandLineOption *, const QString *>, 3> files { {
            { &m_log, &settings.statusLogFile },
            { &m_dumpLog, &settings.dumpLogFile },
            { &m_json, &settings.jsonFile },
        } };
        const QCommandLineOption *claimed = nullptr;
        for (const auto &[option, file] : files) {
            if (!Settings::isStandardOutput(*file))
                continue;
            if (claimed)
                return Complaint { typed(*option),
                    text(Text::kStandardOutputTaken).arg(typed(*claimed)) };
            claimed = option;
        }
        return std::nullopt;
    }

    std::optional<Complaint> readCaptureSettings(Settings &settings)
    {
        settings.listAtStart = m_parser.isSet(m_list);
        if (!readFile(m_capture, settings.captureFile))
            return Complaint { typed(m_capture), m_reason };
        if (m_parser.isSet(m_captureBudget)) {
            const auto mebibytes = readInteger(m_parser.value(m_captureBudget),
                kMinCaptureBudgetMiB, kMaxCaptureBudgetMiB, m_reason);
            if (!mebibytes)
                return Complaint { typed(m_captureBudget), m_reason };
            settings.captureBudget = *mebibytes * kMebibyte;
        }
        settings.graphAtStart = m_parser.isSet(m_graph);
        return std::nullopt;
    }

    // QCommandLineParser's own error text is English and names no option as typed, so the
    // arguments are walked again the way it walks them.
    Complaint parseComplaint(const QStringList &arguments) const
    {
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            const QString &argument = arguments.at(i);
            if (argument == QLatin1String("--"))
                break;
            if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-"))
                continue;
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            const QString name
                = argument.left(equals).mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
            const QCommandLineOption *const option = find(name);
            if (!option)
                return { argument.left(equals), text(Text::kUnknownOption) };
            if (option->valueName().isEmpty()) {
                if (equals >= 0)
                    return { argument.left(equals), text(Text::kUnexpectedValue) };
            } else if (equals < 0 && ++i == arguments.size()) {
                // Qt takes the next argument as the value, whatever it looks like.
                return { argument, text(Text::kMissingValue) };
            }
        }
        // Not reached while the walk above matches Qt's; Qt's own words are better than none.
        return { arguments.mid(1).join(QLatin1Char(' ')), m_parser.errorText() };
    }

    const QCommandLineOption *find(const QString &name) const
    {
        for (const QCommandLineOption *option : m_options) {
            if (option->names().contains(name))
                return option;
        }
        return nullptr;
    }

    bool readFile(const QCommandLineOption &option, QString &file)
    {
        if (!m_parser.isSet(option))
            return true;
        file = m_parser.value(option);
        m_reason = text(Text::kEmpty);
        return !file.isEmpty();
    }

    bool readPort(const QString &value, quint16 &port)
    {
        const auto number = readInteger(value, kMinPort, kMaxPort, m_reason);
        if (number)
            port = quint16(*number);
        return number.has_value();
    }

    // Binding takes an address, never a name: a name could stand for several.
    bool readBindAddress(const Endpoint &endpoint, QHostAddress &address)
    {
        if (endpoint.host.isEmpty() && !endpoint.bracketed)
            return true;
        if (!endpoint.bracketed && !isDottedQuad(endpoint.host))
            return false;
        QHostAddress parsed;
        if (!parsed.setAddress(endpoint.host)) {
            m_reason = text(Text::kNotNumericAddress).arg(endpoint.host);
            return false;
        }
        address = parsed;
        return true;
    }

    // Four decimal numbers, each 0 to 255. QHostAddress, like inet_aton, would also take "1.2.3"
    // as 1.2.0.3, hexadecimal, and "010" as 8: none of them what a person typing one means.
    bool isDottedQuad(const QString &host)
    {
        for (const QChar c : host) {
            if (c != QLatin1Char('.') && (c < QLatin1Char('0') || c > QLatin1Char('9'))) {
                m_reason = text(Text::kNotNumericAddress).arg(host);
                return false;
            }
        }
        const QStringList parts = host.split(QLatin1Char('.'));
        bool quad = parts.size() == kIpv4Parts;
        bool leadingZero = false;
        for (const QString &part : parts) {
            quad = quad && !part.isEmpty() && part.size() <= kIpv4PartDigits
                && part.toInt() <= kIpv4PartMax;
            leadingZero = leadingZero || (part.size() > 1 && part.startsWith(QLatin1Char('0')));
        }
        if (quad && !leadingZero)
            return true;
        m_reason = text(quad ? Text::kLeadingZero : Text::kNotDottedQuad).arg(host);
        return false;
    }

    // One sender's address, of the bound group's family. With no port to set it apart, an
    // IPv6 one goes without brackets.
    bool readSource(Settings &settings)
    {
        const QString value = m_parser.value(m_source);
        const QHostAddress &group = settings.bindAddress;
        QHostAddress source;
        if (!group.isMulticast()) {
            m_reason = text(Text::kSourceWithoutGroup);
            return false;
        }
        if (value.isEmpty()) {
            m_reason = text(Text::kEmpty);
            return false;
        }
        if (!value.contains(QLatin1Char(':')) && !isDottedQuad(value))
            return false;
        if (!source.setAddress(value)) {
            m_reason = text(Text::kNotNumericAddress).arg(value);
            return false;
        }
        if (source.protocol() != group.protocol()) {
            m_reason = text(Text::kSourceOtherFamily).arg(value, group.toString());
            return false;
        }
        // A sender is one host: never a group, a broadcast or "any".
        if (source.isMulticast() || source.isBroadcast() || source == QHostAddress::AnyIPv4
            || source == QHostAddress::AnyIPv6) {
            m_reason = text(Text::kNotSource).arg(value);
            return false;
        }
        settings.group.source = source;
        return true;
    }

    bool readPeerHost(const Endpoint &endpoint, QString &host)
    {
        for (const QChar c : endpoint.host) {
            if (c.isSpace() || c == QLatin1Char('[') || c == QLatin1Char(']')) {
                m_reason = text(Text::kBadHost).arg(endpoint.host);
                return false;
            }
        }
        host = endpoint.host;
        return true;
    }

    const QCommandLineOption m_help { { QStringLiteral("h"), QStringLiteral("help") },
        text(Text::kHelp) };
    const QCommandLineOption m_version { { QStringLiteral("v"), QStringLiteral("version") },
        text(Text::kVersionOption) };
    const QCommandLineOption m_bind { QStringLiteral("bind"),
        text(Text::kBind).arg(Settings::kDefaultLocalPort), QStringLiteral("[ADDRESS:]PORT") };
    const QCommandLineOption m_peer { QStringLiteral("peer"),
        text(Text::kPeer)
            .arg(QLatin1String(Settings::kDefaultRemoteHost))
            .arg(Settings::kDefaultRemotePort),
        QStringLiteral("HOST:PORT") };
    const QCommandLineOption m_period { QStringLiteral("period"),
        text(Text::kPeriod)
            .arg(Settings::kMinPeriod)
            .arg(Settings::kMaxPeriod)
            .arg(Settings::kDefaultPeriod),
        QStringLiteral("MS") };
    const QCommandLineOption m_send { QStringLiteral("send"), text(Text::kSend) };
    const QCommandLineOption m_dump { QStringLiteral("dump"), text(Text::kDump) };
    const QCommandLineOption m_log { QStringLiteral("log"), text(Text::kLog),
        QStringLiteral("FILE") };
    const QCommandLineOption m_dumpLog { QStringLiteral("dump-log"), text(Text::kDumpLog),
        QStringLiteral("FILE") };
    const QCommandLineOption m_interval { QStringLiteral("interval"),
        text(Text::kInterval)
            .arg(seconds(Settings::kMinIntervalMs), seconds(Settings::kMaxIntervalMs),
                seconds(Settings::kDefaultIntervalMs)),
        QStringLiteral("SECONDS") };
    const QCommandLineOption m_paneBudget { QStringLiteral("pane-budget"),
        text(Text::kPaneBudget).arg(Settings::kDefaultPaneBudget / kMebibyte),
        QStringLiteral("MIB") };
    const QCommandLineOption m_interface { QStringLiteral("interface"), text(Text::kInterface),
        QStringLiteral("NAME") };
    const QCommandLineOption m_ttl { QStringLiteral("ttl"),
        text(Text::kTtl)
            .arg(GroupOptions::kMinHopLimit)
            .arg(GroupOptions::kMaxHopLimit)
            .arg(GroupOptions::kDefaultHopLimit),
        QStringLiteral("N") };
    const QCommandLineOption m_source { QStringLiteral("source"), text(Text::kSource),
        QStringLiteral("ADDRESS") };
    const QCommandLineOption m_headless { QStringLiteral("headless"), text(Text::kHeadless) };
    const QCommandLineOption m_duration { QStringLiteral("duration"),
        text(Text::kDuration).arg(seconds(Settings::kMaxDurationMs)), QStringLiteral("SECONDS") };
    const QCommandLineOption m_json { QStringLiteral("json"), text(Text::kJson),
        QStringLiteral("FILE") };
    const QCommandLineOption m_echo { QStringLiteral("echo"), text(Text::kEcho) };
    const QCommandLineOption m_list { QStringLiteral("list"), text(Text::kList) };
    const QCommandLineOption m_capture { QStringLiteral("capture"), text(Text::kCapture),
        QStringLiteral("FILE") };
    const QCommandLineOption m_captureBudget { QStringLiteral("capture-budget"),
        text(Text::kCaptureBudget)
            .arg(kMinCaptureBudgetMiB)
            .arg(kMaxCaptureBudgetMiB)
            .arg(Settings::kDefaultCaptureBudget / kMebibyte),
        QStringLiteral("MIB") };
    const QCommandLineOption m_graph { QStringLiteral("graph"), text(Text::kGraph) };
    // Every option once, in the order --help lists them.
    const std::array<const QCommandLineOption *, 22> m_options { &m_help, &m_version, &m_bind,
        &m_peer, &m_interface, &m_ttl, &m_source, &m_period, &m_send, &m_dump, &m_log, &m_dumpLog,
        &m_interval, &m_paneBudget, &m_headless, &m_duration, &m_json, &m_echo, &m_list, &m_capture,
        &m_captureBudget, &m_graph };

    QCommandLineParser m_parser;
    QString m_reason;
};

} // namespace

QString programName(const QStringList &arguments)
{
    const QString name = QFileInfo(arguments.value(0)).fileName();
    return name.isEmpty() ? text(kProgram) : name;
}

Outcome parse(const QStringList &arguments)
{
    return Reader().read(arguments);
}

} // namespace CommandLine
