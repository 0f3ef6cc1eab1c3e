#pragma once
// Passwords, API keys and access tokens must never reach a log line, a warning, an exception
// text or a cache key. These helpers turn texts and attribute sets into forms that may.

#include <QByteArray>

#include <lmxmaps/host/TString.h>

namespace Secrets {

// What a secret is replaced with.
inline constexpr const char16_t* kMask = u"***";

// Attributes whose whole value is a secret: "password", "api-key", "data-apikey".
bool IsSecretAttribute(const TString& key);

// The text with the value of every secret query parameter ("access_token", "api_key",
// "apikey", "key", "token", "password"; any case) masked, wherever it appears:
// "https://h/s?access_token=pk.x&z=1" gives "https://h/s?access_token=***&z=1".
TString RedactUrl(const TString& text);

// The attributes without the secret ones, the other values passed through RedactUrl.
AttributeMap RedactAttributes(const AttributeMap& attributes);

// For keys that must tell secrets apart without holding them: the attributes with every secret
// (a secret attribute's value, a secret query parameter's value) replaced by "#" and the start
// of its HMAC-SHA256 under digestKey, in hex.
AttributeMap DigestAttributes(const AttributeMap& attributes, const QByteArray& digestKey);

} // namespace Secrets
