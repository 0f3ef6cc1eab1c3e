#include <lmxmaps/host/UserCancelException.h>

UserCancelException::UserCancelException(TString message, TError::ErrorInfo errorInfo)
    : LumivexException(std::move(message), std::move(errorInfo)) {}

std::unique_ptr<LumivexException> UserCancelException::Clone() const {
    return std::make_unique<UserCancelException>(*this);
}

void UserCancelException::Throw() const {
    throw UserCancelException(*this);
}
