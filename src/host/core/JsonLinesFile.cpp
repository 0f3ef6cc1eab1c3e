#include "JsonLinesFile.h"

#include <cmath>

#include <lmxmaps/host/TLog.h>

void WriteJsonDouble(JsonLineWriter& writer, double value) {
    if (std::isnan(value)) {
        writer.String("NaN");
    } else if (std::isinf(value)) {
        writer.String(value > 0 ? "Infinity" : "-Infinity");
    } else {
        writer.Double(value);
    }
}

JsonLinesFile::JsonLinesFile(const TString& path) : m_file(path) {}

void JsonLinesFile::Append(const std::string& line) {
    std::lock_guard lock(m_mutex);
    if (!OpenIfNeeded()) {
        return;
    }
    const std::string record = line + '\n';
    const qint64 size = static_cast<qint64>(record.size());
    if (m_file.write(record.data(), size) != size || !m_file.flush()) {
        GiveUp(m_file.errorString());
    }
}

bool JsonLinesFile::OpenIfNeeded() {
    if (m_unusable) {
        return false;
    }
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        GiveUp(m_file.errorString());
        return false;
    }
    return true;
}

void JsonLinesFile::GiveUp(const TString& reason) {
    m_unusable = true;
    m_file.close();
    TLog::LogMessage(
        TLog::Severity::Warn,
        QStringLiteral("Nothing more is written to %1: %2").arg(m_file.fileName(), reason));
}
