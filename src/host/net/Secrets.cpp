#include <QRegularExpression>
#include <array>

#include <lmxmaps/host/Secrets.h>

namespace Secrets {

namespace {

constexpr std::array<const char16_t*, 3> kSecretAttributes = {u"password", u"api-key",
                                                              u"data-apikey"};

// A secret parameter's name after '?', '&', ';', a blank or the start, its '=' and its value
// (the characters a URL carries unescaped, and escapes).
const QRegularExpression& SecretParameter() {
    static const QRegularExpression expression(
        QStringLiteral(
            R"((^|[?&;\s])(access_token|api_key|apikey|key|token|password)=([A-Za-z0-9._~%+/=-]*))"),
        QRegularExpression::CaseInsensitiveOption);
    return expression;
}

} // namespace

bool IsSecretAttribute(const TString& key) {
    for (const char16_t* secret : kSecretAttributes) {
        if (key == TStr(secret)) {
            return true;
        }
    }
    return false;
}

TString RedactUrl(const TString& text) {
    if (!text.contains(u'=')) {
        return text;
    }
    TString redacted = text;
    redacted.replace(SecretParameter(), QStringLiteral("\\1\\2=") + TStr(kMask));
    return redacted;
}

AttributeMap RedactAttributes(const AttributeMap& attributes) {
    AttributeMap redacted;
    for (const auto& [key, value] : attributes) {
        if (!IsSecretAttribute(key)) {
            redacted.emplace(key, RedactUrl(value));
        }
    }
    return redacted;
}

} // namespace Secrets
