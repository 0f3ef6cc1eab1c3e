#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/storage/TemporaryFile.h>

namespace {
constexpr std::uint32_t kCreateFailedSite = 0x7E3F0001;
}

TemporaryFile::TemporaryFile(const TString& nameTemplate) {
    QTemporaryFile file(QDir(QDir::tempPath()).filePath(nameTemplate));
    file.setAutoRemove(false);
    if (!file.open()) {
        throw LumivexException(
            QStringLiteral("Cannot create a temporary file in %1: %2")
                .arg(QDir::tempPath(), file.errorString()),
            TError::AutoGen(QStringLiteral("LumivexException"), kCreateFailedSite));
    }
    m_path = file.fileName();
}

TemporaryFile::~TemporaryFile() {
    if (!m_keep) {
        QFile::remove(m_path);
    }
}
