#include "ViewBenchSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MappedImageInstance.h>

namespace viewbench {

namespace {

constexpr int kProcessTimeoutMs = 120000;
// A crash stops the servers too: they would outlive the process otherwise.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGABRT, SIGBUS};

// Filled before the handlers are installed: a signal handler may only fork and exec.
char g_script[PATH_MAX];
char g_stateDir[PATH_MAX];

void RunFromSignal(char* const argv[]) {
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
}

extern "C" void OnSignal(int signal) {
    char stop[] = "stop";
    char rm[] = "/bin/rm";
    char recursive[] = "-rf";
    char* const stopServers[] = {g_script, stop, g_stateDir, nullptr};
    char* const removeState[] = {rm, recursive, g_stateDir, nullptr};
    RunFromSignal(stopServers);
    RunFromSignal(removeState);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void Fail(const std::string& message) {
    throw std::runtime_error(message);
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double CpuMs(const rusage& usage) {
    const auto ms = [](const timeval& t) {
        return t.tv_sec * 1e3 + t.tv_usec / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void CheckTilesDrawn(const CompositeMappedImage& composite, const std::string& label) {
    for (const MappedImageInstancePtr& tile : composite.GetTiles()) {
        WarningList errors;
        bool hadErrors = false;
        tile->GetErrors(errors, hadErrors);
        if (hadErrors || tile->IsError() || !tile->GetImageObject() ||
            tile->GetTileRects().empty()) {
            Fail(label + "tile " + tile->GetUrl().toStdString() + " failed or was not drawn");
        }
    }
}

void WriteFile(const QString& path, const QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0) {
        Fail("cannot write " + path.toStdString());
    }
}

LoopbackServers::LoopbackServers(const QString& prefix)
    : m_state(QDir::tempPath() + u'/' + prefix + QStringLiteral("-XXXXXX")) {
    if (!m_state.isValid()) {
        Fail("cannot make a temporary directory");
    }
    std::snprintf(g_script, sizeof g_script, "%s", LMX_TEST_SERVERS_SCRIPT);
    std::snprintf(g_stateDir, sizeof g_stateDir, "%s", qPrintable(m_state.path()));
    for (const int signal : kStopSignals) {
        std::signal(signal, OnSignal);
    }
    m_started = true;
    try {
        RunScript(QStringLiteral("start"));
        ReadEnvironment();
    } catch (...) {
        Stop();
        throw;
    }
}

LoopbackServers::~LoopbackServers() {
    Stop();
}

void LoopbackServers::Stop() {
    if (!m_started) {
        return;
    }
    m_started = false;
    try {
        RunScript(QStringLiteral("stop"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    for (const int signal : kStopSignals) {
        std::signal(signal, SIG_DFL);
    }
}

QStringList LoopbackServers::SettledLog(const QString& path) {
    qint64 size = -1;
    for (int still = 0; still < 2;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        const qint64 now = QFileInfo(path).size();
        still = now == size ? still + 1 : 0;
        size = now;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail("cannot read the access log " + path.toStdString());
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    lines.removeAll(QString());
    return lines;
}

void LoopbackServers::RunScript(const QString& command) {
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral(LMX_TEST_SERVERS_SCRIPT), {command, m_state.path()});
    if (!script.waitForFinished(kProcessTimeoutMs) || script.exitStatus() != QProcess::NormalExit ||
        script.exitCode() != 0) {
        Fail("test-servers " + command.toStdString() + " failed:\n" +
             script.readAll().toStdString());
    }
}

void LoopbackServers::ReadEnvironment() {
    QFile file(m_state.filePath(QStringLiteral("servers.env")));
    if (!file.open(QIODevice::ReadOnly)) {
        Fail("test-servers wrote no servers.env");
    }
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QString key = line.section(u'=', 0, 0);
        const QString value = line.section(u'=', 1);
        if (key == QLatin1String("LMX_STATIC_TILE_PORT")) {
            m_staticPort = value.toInt();
        } else if (key == QLatin1String("LMX_STATIC_ACCESS_LOG")) {
            m_staticLog = value;
        } else if (key == QLatin1String("LMX_MAPSERVER_PORT")) {
            m_mapServerPort = value.toInt();
        } else if (key == QLatin1String("LMX_MAPSERVER_ACCESS_LOG")) {
            m_mapServerLog = value;
        } else if (key == QLatin1String("LMX_MAPBOX_PORT")) {
            m_mapboxPort = value.toInt();
        }
    }
    if (m_staticPort <= 0 || m_staticLog.isEmpty() || m_mapServerPort <= 0 ||
        m_mapServerLog.isEmpty()) {
        Fail("servers.env lacks a server's port or access log");
    }
}

PollRun PollUntilComplete(MappedImageInstance& composite, Clock::time_point start,
                          Clock::duration timeout, Clock::duration interval) {
    PollRun run;
    bool pending = true;
    int count = 0;
    Clock::duration checking{};
    while (pending) {
        // The call only raises the flag.
        pending = false;
        const Clock::time_point before = Clock::now();
        composite.CheckUpdateState(pending, count);
        const Clock::time_point after = Clock::now();
        checking += after - before;
        ++run.polls;
        if (pending) {
            if (after - start > timeout) {
                Fail("the view did not complete in time");
            }
            std::this_thread::sleep_for(interval);
        }
    }
    run.checkMs = Ms(checking);
    return run;
}

ProcessRun Spawn(const QStringList& command, const QString& dir,
                 const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> strings;
    for (const QString& argument : command) {
        strings.push_back(argument.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& argument : strings) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment(extraEnvironment);
    for (char** variable = environ; *variable != nullptr; ++variable) {
        environment.emplace_back(*variable);
    }
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    const std::string out = QDir(dir).filePath(QStringLiteral("spawn.out")).toStdString();
    const std::string err = QDir(dir).filePath(QStringLiteral("spawn.err")).toStdString();
    const std::string workingDir = dir.toStdString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());

    ProcessRun run;
    pid_t pid = 0;
    int status = 0;
    rusage usage{};
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    const bool waited = spawned == 0 && wait4(pid, &status, 0, &usage) == pid;
    run.ms = Ms(Clock::now() - start);
    run.cpuMs = CpuMs(usage);
    posix_spawn_file_actions_destroy(&actions);

    QFile output(QString::fromStdString(out));
    if (output.open(QIODevice::ReadOnly)) {
        run.output = output.readAll();
    }
    if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        QFile errors(QString::fromStdString(err));
        const QByteArray text = errors.open(QIODevice::ReadOnly) ? errors.readAll() : QByteArray();
        Fail(strings.front() + " failed: " + (spawned != 0 ? std::strerror(spawned) : "") +
             text.toStdString());
    }
    return run;
}

} // namespace viewbench
