#include <QProcess>
#include <QStandardPaths>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <lmxmaps/host/HeadlessDisplay.h>

namespace HeadlessDisplay {

namespace {

constexpr const char* kXvfb = "Xvfb";
constexpr int kStartTimeoutMs = 10000;
// Large enough for any view the tool renders at once.
constexpr const char* kScreen = "4096x4096x24";

// Stops the X server when the process ends.
struct XServer {
    std::unique_ptr<QProcess> process;

    ~XServer() {
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            process->waitForFinished(kStartTimeoutMs);
        }
    }
};

XServer& TheServer() {
    static XServer server;
    return server;
}

// Xvfb picks a free display number itself and writes it to the given descriptor.
bool StartXvfb(TString& display, TString& error) {
    const TString program = QStandardPaths::findExecutable(QLatin1String(kXvfb));
    if (program.isEmpty()) {
        error = QStringLiteral("no DISPLAY and no Xvfb to start one (install the package xvfb)");
        return false;
    }
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(program, {QStringLiteral("-displayfd"), QStringLiteral("1"),
                             QStringLiteral("-screen"), QStringLiteral("0"), QLatin1String(kScreen),
                             QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!process->waitForStarted(kStartTimeoutMs)) {
        error = QStringLiteral("Xvfb did not start: ") + process->errorString();
        return false;
    }
    QByteArray number;
    while (!number.contains('\n')) {
        if (!process->waitForReadyRead(kStartTimeoutMs)) {
            error = QStringLiteral("Xvfb gave no display number: ") +
                    QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
            process->kill();
            return false;
        }
        number += process->readAllStandardOutput();
    }
    display = u':' + QString::fromLatin1(number.trimmed());
    TheServer().process = std::move(process);
    return true;
}

} // namespace

bool EnsureDisplay(TString& error) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        return true;
    }
    TString display;
    if (!StartXvfb(display, error)) {
        return false;
    }
    qputenv("DISPLAY", display.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    return true;
}

} // namespace HeadlessDisplay
