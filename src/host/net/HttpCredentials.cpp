#include "HttpCredentials.h"

#include <curl/curl.h>
#include <map>
#include <mutex>

namespace HttpCredentials {

namespace {

struct Store {
    // Serialises prompts, so that the user sees one dialogue at a time.
    std::mutex promptMutex;
    std::mutex mutex;
    HTTPRequest::AuthenticationPrompt prompt;
    std::optional<Entry> proxy;
    std::map<TString, Entry> servers;
    bool proxyCanceled = false;
};

Store& TheStore() {
    static Store store;
    return store;
}

// The scheme named first in the challenge; libcurl is told only that one, so that it sends
// the credentials right away instead of probing the server first.
unsigned long AuthMaskOf(const TString& challenge) {
    const TString scheme = challenge.section(u' ', 0, 0, QString::SectionSkipEmpty).toLower();
    if (scheme == u"basic") {
        return CURLAUTH_BASIC;
    }
    if (scheme == u"digest") {
        return CURLAUTH_DIGEST;
    }
    if (scheme == u"ntlm") {
        return CURLAUTH_NTLM;
    }
    if (scheme == u"negotiate") {
        return CURLAUTH_NEGOTIATE;
    }
    return CURLAUTH_ANY;
}

bool SameEntry(const Entry& a, const Entry& b) {
    return a.credentials.user == b.credentials.user &&
           a.credentials.password == b.credentials.password && a.authMask == b.authMask;
}

std::optional<Entry> RememberedLocked(Store& store, bool proxy, const TString& origin) {
    if (proxy) {
        return store.proxy;
    }
    const auto found = store.servers.find(origin);
    if (found == store.servers.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace

std::optional<Entry> Remembered(bool proxy, const TString& origin) {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    return RememberedLocked(store, proxy, origin);
}

std::optional<Entry> Ask(const HTTPRequest::AuthenticationChallenge& challenge,
                         const TString& origin, const std::optional<Entry>& rejected) {
    Store& store = TheStore();
    std::lock_guard promptLock(store.promptMutex);
    HTTPRequest::AuthenticationPrompt prompt;
    {
        std::lock_guard lock(store.mutex);
        const std::optional<Entry> current = RememberedLocked(store, challenge.proxy, origin);
        if (current && (!rejected || !SameEntry(*current, *rejected))) {
            return current;
        }
        if (!store.prompt || (challenge.proxy && store.proxyCanceled)) {
            return std::nullopt;
        }
        prompt = store.prompt;
    }
    const std::optional<HTTPRequest::Credentials> answer = prompt(challenge);
    std::lock_guard lock(store.mutex);
    if (!answer) {
        if (challenge.proxy) {
            store.proxyCanceled = true;
            store.proxy.reset();
        } else {
            store.servers.erase(origin);
        }
        return std::nullopt;
    }
    const Entry entry{*answer, AuthMaskOf(challenge.challenge)};
    if (challenge.proxy) {
        store.proxy = entry;
    } else {
        store.servers[origin] = entry;
    }
    return entry;
}

bool ProxyAuthenticationCanceled() {
    Store& store = TheStore();
    std::lock_guard lock(store.mutex);
    return store.proxyCanceled;
}

void SetPrompt(HTTPRequest::AuthenticationPrompt prompt) {
    Store& store = TheStore();
    std::lock_guard promptLock(store.promptMutex);
    std::lock_guard lock(store.mutex);
    store.prompt = std::move(prompt);
    store.proxy.reset();
    store.servers.clear();
    store.proxyCanceled = false;
}

} // namespace HttpCredentials
