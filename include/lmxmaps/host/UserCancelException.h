#pragma once
// Raised when an operation stops because the user declined it (or, without a user to ask, the
// host declined it on the user's behalf). The host shows the message and drops the operation.

#include <lmxmaps/host/LumivexException.h>

class UserCancelException : public LumivexException {
public:
    UserCancelException(TString message, TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;
};
