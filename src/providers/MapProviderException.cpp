#include <lmxmaps/MapProviderException.h>

namespace {

TString JoinParts(const std::vector<TStringCore>& parts) {
    QStringList nonEmpty;
    for (const TStringCore& part : parts) {
        if (!part.isEmpty()) {
            nonEmpty.append(part);
        }
    }
    return nonEmpty.join(QLatin1Char(' '));
}

} // namespace

MapProviderException::MapProviderException(Type type, TString message, TError::ErrorInfo errorInfo)
    : LumivexException(std::move(message), std::move(errorInfo)), m_type(type) {}

MapProviderException::MapProviderException(Type type, TString message, TError::ErrorInfo errorInfo,
                                           TString mapSourceName, bool shouldCloseConnection)
    : LumivexException(std::move(message), std::move(errorInfo)),
      m_shouldCloseConnection(shouldCloseConnection), m_type(type),
      m_mapSourceName(std::move(mapSourceName)) {}

MapProviderException::MapProviderException(Type type, const std::vector<TStringCore>& messageParts,
                                           TError::ErrorInfo errorInfo)
    : LumivexException(JoinParts(messageParts), std::move(errorInfo)), m_type(type) {}

TError::ErrorInfo MapProviderException::Site(std::uint32_t id) {
    return TError::AutoGen(QStringLiteral("MapProviderException"), id);
}

std::unique_ptr<LumivexException> MapProviderException::Clone() const {
    return std::make_unique<MapProviderException>(*this);
}

void MapProviderException::Throw() const {
    throw MapProviderException(*this);
}

TString MapProviderException::GetAttribute(const TString& key) const {
    const auto found = m_attributes.find(key);
    return found == m_attributes.end() ? TString() : found->second;
}

void MapProviderException::SetAttribute(const TString& key, const TString& value) {
    m_attributes[key] = value;
}

std::vector<TString> MapProviderException::GetAttributeKeys() const {
    std::vector<TString> keys;
    keys.reserve(m_attributes.size());
    for (const auto& entry : m_attributes) {
        keys.push_back(entry.first);
    }
    return keys;
}
