#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <array>

#include <lmxmaps/host/net/Secrets.h>

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

// 64 bits of the digest keep unrelated secrets apart; the rest would only lengthen keys.
constexpr int kDigestBytes = 8;

TString Digest(const TString& secret, const QByteArray& digestKey) {
    const QByteArray code =
        QMessageAuthenticationCode::hash(secret.toUtf8(), digestKey, QCryptographicHash::Sha256);
    return u'#' + QString::fromLatin1(code.left(kDigestBytes).toHex());
}

TString DigestUrl(const TString& text, const QByteArray& digestKey) {
    TString digested;
    qsizetype copiedUpTo = 0;
    QRegularExpressionMatchIterator matches = SecretParameter().globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const qsizetype valueStart = match.capturedStart(3);
        digested += text.mid(copiedUpTo, valueStart - copiedUpTo);
        digested += Digest(match.captured(3), digestKey);
        copiedUpTo = match.capturedEnd(3);
    }
    return digested + text.mid(copiedUpTo);
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

AttributeMap DigestAttributes(const AttributeMap& attributes, const QByteArray& digestKey) {
    AttributeMap digested;
    for (const auto& [key, value] : attributes) {
        digested.emplace(key, IsSecretAttribute(key) ? Digest(value, digestKey)
                                                     : DigestUrl(value, digestKey));
    }
    return digested;
}

} // namespace Secrets
