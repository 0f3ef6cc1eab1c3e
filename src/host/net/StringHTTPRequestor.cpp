#include <lmxmaps/host/net/HTTPRequestor.h>

namespace {
const QByteArray kUtf8ByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
}

StringHTTPRequestor::StringHTTPRequestor(TString server, unsigned int port, TString method,
                                         const HTTPRequest::RequestInfo& info,
                                         HTTPRequest::InfiniteTimeout timeout)
    : HTTPRequestor(std::move(server), port, std::move(method), info, timeout) {}

TString StringHTTPRequestor::GetString() {
    CheckExceptions();
    if (m_body.startsWith(kUtf8ByteOrderMark)) {
        return QString::fromUtf8(m_body.constData() + kUtf8ByteOrderMark.size(),
                                 m_body.size() - kUtf8ByteOrderMark.size());
    }
    return QString::fromUtf8(m_body);
}

void StringHTTPRequestor::BeginBody() {
    m_body.clear();
}

void StringHTTPRequestor::AppendBody(const char* data, std::size_t size) {
    m_body.append(data, static_cast<qsizetype>(size));
}
