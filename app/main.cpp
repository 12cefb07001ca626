// SPDX-License-Identifier: MIT
#include "app/AppIcon.h"
#include "app/MessageBoxReporter.h"
#include "app/frmMain.h"
#include "engine/CommandLine.h"
#include "engine/HeadlessRun.h"
#include "engine/TerminationSignals.h"
#include "engine/Tick.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr char kNoWindow[] = "%1: ウィンドウを開けません: %2\n";
constexpr char kNoDisplayVariables[] = "DISPLAY も WAYLAND_DISPLAY も設定されていません";

bool print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size())
        && std::fflush(stream) == 0;
}

// The whole interface is Japanese, so Qt's own texts (the file dialog, its prompts, --help's
// headings) are too, whatever the locale says.
void installQtTranslations(QCoreApplication &app)
{
    auto *const translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
}

// Empty when this session may have a display; otherwise why it plainly has none. Only the X11
// and Wayland platforms need one: offscreen, vnc and the like draw without.
QString missingDisplay()
{
    const QStringList platforms
        = qEnvironmentVariable("QT_QPA_PLATFORM").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &platform : platforms) {
        const QString name = platform.section(QLatin1Char(':'), 0, 0);
        if (name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland")))
            return {};
    }
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return {};
    return QString::fromUtf8(kNoDisplayVariables);
}

// When no platform plugin starts, typically because the display refuses the connection, Qt
// ends the program with qFatal: an abort, a core dump, and advice to reinstall. While the
// application object is being made, this turns that into one line and exit status 1. Qt's own
// messages meanwhile are held back, to give the reason in that line or, once the application
// object exists, to be passed on as they would have been.
class PlatformStart
{
public:
    explicit PlatformStart(QString program)
        : m_program(std::move(program))
    {
        s_active = this;
        m_previous = qInstallMessageHandler(&PlatformStart::handle);
    }
    ~PlatformStart() { started(); }
    PlatformStart(const PlatformStart &) = delete;
    PlatformStart &operator=(const PlatformStart &) = delete;

    void started()
    {
        if (s_active != this)
            return;
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
        for (const Held &held : m_held) {
            if (!m_previous)
                break;
            const QMessageLogContext context(held.file.constData(), held.line,
                held.function.constData(), held.category.constData());
            m_previous(held.type, context, held.message);
        }
        m_held.clear();
    }

private:
    struct Held
    {
        QtMsgType type = QtDebugMsg;
        QByteArray file;
        int line = 0;
        QByteArray function;
        QByteArray category;
        QString message;
    };

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        PlatformStart *const self = s_active;
        const std::lock_guard lock(self->m_mutex);
        if (type != QtFatalMsg) {
            self->m_held.push_back(
                { type, context.file, context.line, context.function, context.category, message });
            return;
        }
        QStringList reasons;
        for (const Held &held : self->m_held) {
            if ((held.type == QtWarningMsg || held.type == QtCriticalMsg)
                && held.category.startsWith("qt.qpa"))
                reasons.append(held.message.trimmed());
        }
        if (reasons.isEmpty())
            reasons.append(message.section(QLatin1Char('\n'), 0, 0));
        print(stderr,
            QString::fromUtf8(kNoWindow).arg(self->m_program, reasons.join(QLatin1String("; "))));
        // Returning would let Qt abort.
        std::_Exit(EXIT_FAILURE);
    }

    // The handler is a plain function, so it finds its state here; set only while installed.
    static inline PlatformStart *s_active = nullptr;

    const QString m_program;
    QtMessageHandler m_previous = nullptr;
    std::mutex m_mutex;
    std::vector<Held> m_held;
};

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine::Outcome command = CommandLine::parse(arguments);
    switch (command.action) {
    case CommandLine::Action::PrintHelp: {
        // Qt translates its headings only through an application object.
        int coreArgc = std::min(argc, 1);
        QCoreApplication core(coreArgc, argv);
        installQtTranslations(core);
        return print(stdout, CommandLine::parse(arguments).text) ? EXIT_SUCCESS : EXIT_FAILURE;
    }
    case CommandLine::Action::PrintVersion:
        return print(stdout, command.text) ? EXIT_SUCCESS : EXIT_FAILURE;
    case CommandLine::Action::Fail:
        print(stderr, command.text);
        return CommandLine::kBadUsageStatus;
    case CommandLine::Action::Run:
        break;
    }

    if (command.settings.headless) {
        // No display, no platform plugin: the tool's arguments are already read, Qt gets none.
        int coreArgc = std::min(argc, 1);
        QCoreApplication core(coreArgc, argv);
        HeadlessRun run(systemUptimeMilliseconds, command.settings);
        return run.exec();
    }

    const QString program = CommandLine::programName(arguments);
    if (const QString reason = missingDisplay(); !reason.isEmpty()) {
        print(stderr, QString::fromUtf8(kNoWindow).arg(program, reason));
        return EXIT_FAILURE;
    }
    // Every argument is the tool's own and already read: Qt gets none, so that a value such as
    // "--log -reverse" is never taken for one of Qt's options.
    int qtArgc = std::min(argc, 1);
    PlatformStart start(program);
    QApplication app(qtArgc, argv);
    start.started();
    installQtTranslations(app);

    // Lets a desktop match the window to its installed entry and icon.
    QGuiApplication::setDesktopFileName(QLatin1StringView(kApplicationId));
    MessageBoxReporter reporter;
    frmMain window(systemUptimeMilliseconds, reporter, command.settings);
    // Being told to stop closes the window as its close box would, so the socket is released
    // and the exit status is 0.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &window, &QWidget::close);
    window.show();
    return app.exec();
}
