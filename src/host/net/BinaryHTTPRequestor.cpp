#include <lmxmaps/host/net/HTTPRequestor.h>

BinaryHTTPRequestor::BinaryHTTPRequestor(TString server, unsigned int port, TString method,
                                         const HTTPRequest::RequestInfo& info,
                                         HTTPRequest::InfiniteTimeout timeout)
    : HTTPRequestor(std::move(server), port, std::move(method), info, timeout) {}

void BinaryHTTPRequestor::GetBytes(std::vector<unsigned char>& bytes, bool release) {
    CheckExceptions();
    if (release) {
        bytes = std::move(m_body);
        m_body.clear();
    } else {
        bytes = m_body;
    }
}

void BinaryHTTPRequestor::BeginBody() {
    m_body.clear();
}

void BinaryHTTPRequestor::AppendBody(const char* data, std::size_t size) {
    const auto* first = reinterpret_cast<const unsigned char*>(data);
    m_body.insert(m_body.end(), first, first + size);
}
