#include <lmxmaps/host/LumivexException.h>

namespace {
TString HexId(std::uint32_t id) {
    return TString::number(id, 16).toUpper().rightJustified(8, u'0');
}
} // namespace

namespace TError {

ErrorInfo AutoGen(const TString& exceptionClass, std::uint32_t id) {
    return {exceptionClass + QStringLiteral("_AutoGen_0x") + HexId(id), id};
}

ErrorInfo LogicAssert(std::uint32_t id) {
    return {QStringLiteral("LogicException_LogicAssert_0x") + HexId(id), id};
}

ErrorInfo LogSite(const TString& name, std::uint32_t id) {
    return {QStringLiteral("LogSite_") + name + QStringLiteral("_0x") + HexId(id), id};
}

} // namespace TError

LumivexException::LumivexException(TString message, TError::ErrorInfo errorInfo)
    : m_message(std::move(message)), m_errorInfo(std::move(errorInfo)),
      m_utf8Message(ToUtf8(m_message)) {}

LumivexException::~LumivexException() = default;

std::unique_ptr<LumivexException> LumivexException::Clone() const {
    return std::make_unique<LumivexException>(*this);
}

void LumivexException::Throw() const {
    throw LumivexException(*this);
}

void LumivexException::PrependMessage(const TString& context) {
    SetMessage(m_message.isEmpty() ? context : context + u' ' + m_message);
}

void LumivexException::SetMessage(TString message) {
    m_message = std::move(message);
    m_utf8Message = ToUtf8(m_message);
}

LogicException::LogicException(const char* file, int line, const char* condition,
                               TError::ErrorInfo info)
    : LumivexException(
          QStringLiteral("Logic error: %1 (%2:%3)")
              .arg(QString::fromUtf8(condition), QString::fromUtf8(file), QString::number(line)),
          std::move(info)),
      m_file(file), m_line(line), m_condition(condition) {}

std::unique_ptr<LumivexException> LogicException::Clone() const {
    return std::make_unique<LogicException>(*this);
}

void LogicException::Throw() const {
    throw LogicException(*this);
}

void ThrowLogicException(const char* file, int line, const char* condition,
                         TError::ErrorInfo info) {
    throw LogicException(file, line, condition, std::move(info));
}
