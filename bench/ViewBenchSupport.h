#pragma once
// Shared by the view benchmarks: the loopback servers of tests/servers/test-servers (started in
// a temporary state directory, stopped on exit, errors and signals), reference programs run
// with posix_spawn, and small timing helpers.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "Median.h"

class CompositeMappedImage;

class MappedImageInstance;

namespace viewbench {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& message);
double Ms(Clock::duration d);
using bench::Median;
// User plus system time.
double CpuMs(const rusage& usage);
void WriteFile(const QString& path, const QString& text);
// Fails unless every tile of the composite arrived without error and was drawn; label starts
// the message.
void CheckTilesDrawn(const CompositeMappedImage& composite, const std::string& label);

// The loopback servers of tests/servers/test-servers in a temporary directory named after
// prefix; one instance a process.
class LoopbackServers {
public:
    explicit LoopbackServers(const QString& prefix);
    ~LoopbackServers();
    LoopbackServers(const LoopbackServers&) = delete;
    LoopbackServers& operator=(const LoopbackServers&) = delete;

    void Stop();

    int StaticPort() const { return m_staticPort; }
    int MapServerPort() const { return m_mapServerPort; }
    // The Mapbox stand-in (lmx_mapbox_fixture).
    int MapboxPort() const { return m_mapboxPort; }
    QString StaticLog() const { return m_staticLog; }
    QString MapServerLog() const { return m_mapServerLog; }
    QString StateDir() const { return m_state.path(); }

    // Lines of an access log once it has been still for a moment: lighttpd's piped logger
    // appends each line just after the response went out.
    static QStringList SettledLog(const QString& path);

private:
    void RunScript(const QString& command);
    void ReadEnvironment();

    QTemporaryDir m_state;
    bool m_started = false;
    int m_staticPort = 0;
    int m_mapServerPort = 0;
    int m_mapboxPort = 0;
    QString m_staticLog;
    QString m_mapServerLog;
};

struct PollRun {
    int polls = 0;
    // Inside the CheckUpdateState calls (they draw the arrived tiles).
    double checkMs = 0.0;
};

// Polls a view's composite every interval until no tile is pending; fails once timeout has
// passed since start.
PollRun PollUntilComplete(MappedImageInstance& composite, Clock::time_point start,
                          Clock::duration timeout, Clock::duration interval);

struct ProcessRun {
    double ms = 0.0;
    // Of the child, user plus system.
    double cpuMs = 0.0;
    QByteArray output;
};

// Runs a program to its end with stdout and stderr in files of dir. posix_spawn shares this
// process's memory until the exec instead of forking it: a fork write-protects every page of
// the heap, and the next lmxmaps view would pay a page fault for each page it writes (about
// 150 ms a view on this virtual machine), which no application showing maps pays.
ProcessRun Spawn(const QStringList& command, const QString& dir,
                 const std::vector<std::string>& extraEnvironment = {});

} // namespace viewbench
