#include <lmxmaps/host/net/HTTPRequestor.h>

HTTPException::HTTPException(TString message, TError::ErrorInfo errorInfo, int code, TString url,
                             QByteArray responseBody, bool timedOut)
    : LumivexException(std::move(message), std::move(errorInfo)), m_code(code),
      m_url(std::move(url)), m_responseBody(std::move(responseBody)), m_timedOut(timedOut) {}

std::unique_ptr<LumivexException> HTTPException::Clone() const {
    return std::make_unique<HTTPException>(*this);
}

void HTTPException::Throw() const {
    throw HTTPException(*this);
}
