#pragma once
// The lmxmaps tool run as a process, as a user runs it.

#include <QProcess>
#include <QStringList>

struct ToolRun {
    // -1 when the tool crashed or did not finish in time.
    int exitCode = -1;
    QString out;
    QString err;
};

inline ToolRun
RunTool(const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    constexpr int kTimeoutMs = 60000;
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(LMX_TOOL_PATH), arguments);
    ToolRun run;
    if (!tool.waitForFinished(kTimeoutMs) || tool.exitStatus() != QProcess::NormalExit) {
        tool.kill();
        tool.waitForFinished();
        return run;
    }
    run.exitCode = tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}
