#pragma once
// The host's authenticator: asks the user for credentials while stored map sources are opened
// again. Opaque here; validators hand it on to the host.

class IAuthenticator {
public:
    virtual ~IAuthenticator() = default;
};
