#include <QSaveFile>

#include <lmxmaps/host/net/HTTPRequestor.h>

namespace {

constexpr std::uint32_t kFileOpenFailedId = 0x48545051;
constexpr std::uint32_t kFileWriteFailedId = 0x48545052;
constexpr std::uint32_t kFileCommitFailedId = 0x48545053;

[[noreturn]] void ThrowFileFailure(const TString& what, const QSaveFile& file, std::uint32_t id) {
    throw LumivexException(
        QStringLiteral("Could not %1 %2: %3").arg(what, file.fileName(), file.errorString()),
        TError::AutoGen(QStringLiteral("LumivexException"), id));
}

} // namespace

FileHTTPRequestor::FileHTTPRequestor(TString server, unsigned int port, TString method,
                                     const HTTPRequest::RequestInfo& info, TString filePath,
                                     HTTPRequest::InfiniteTimeout timeout)
    : HTTPRequestor(std::move(server), port, std::move(method), info, timeout),
      m_filePath(std::move(filePath)) {}

FileHTTPRequestor::~FileHTTPRequestor() = default;

void FileHTTPRequestor::BeginBody() {
    // The body goes to a temporary file beside the target, which replaces the target only
    // once complete.
    m_output = std::make_unique<QSaveFile>(m_filePath);
    if (!m_output->open(QIODevice::WriteOnly)) {
        ThrowFileFailure(QStringLiteral("create"), *m_output, kFileOpenFailedId);
    }
}

void FileHTTPRequestor::AppendBody(const char* data, std::size_t size) {
    if (m_output->write(data, static_cast<qint64>(size)) != static_cast<qint64>(size)) {
        ThrowFileFailure(QStringLiteral("write"), *m_output, kFileWriteFailedId);
    }
}

void FileHTTPRequestor::EndBody(bool complete) {
    const std::unique_ptr<QSaveFile> output = std::move(m_output);
    if (!complete) {
        // Dropping the uncommitted save file removes its temporary file now, not when this
        // requestor goes away.
        output->cancelWriting();
        return;
    }
    if (!output->commit()) {
        ThrowFileFailure(QStringLiteral("save"), *output, kFileCommitFailedId);
    }
}
