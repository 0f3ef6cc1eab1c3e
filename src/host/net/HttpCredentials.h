#pragma once
// Credentials for servers and proxies, asked of the user through the registered prompt and
// remembered for the rest of the session, so that a view of a hundred tiles asks once.

#include <optional>

#include <lmxmaps/host/net/HTTPRequestor.h>

namespace HttpCredentials {

// What libcurl needs to answer a challenge: the user, the password and the scheme named by
// the challenge (a CURLAUTH_* mask).
struct Entry {
    HTTPRequest::Credentials credentials;
    unsigned long authMask = 0;
};

// The key of a server's credentials ("http://host:port"); proxies share one entry.
std::optional<Entry> Remembered(bool proxy, const TString& origin);

// Asks the prompt about a challenge and remembers the answer. When another request
// remembered credentials for the same origin while this one waited for the prompt, those are
// returned without asking again. Answers std::nullopt when there is no prompt, the user
// cancels, or proxy authentication was cancelled before.
std::optional<Entry> Ask(const HTTPRequest::AuthenticationChallenge& challenge,
                         const TString& origin, const std::optional<Entry>& rejected);

bool ProxyAuthenticationCanceled();
void SetPrompt(HTTPRequest::AuthenticationPrompt prompt);

} // namespace HttpCredentials
