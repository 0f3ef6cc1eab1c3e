#include <lmxmaps/host/SpatialException.h>

SpatialException::SpatialException(TString message, const char* file, int line,
                                   TError::ErrorInfo errorInfo)
    : LogicException(file, line, ToUtf8(message).c_str(), std::move(errorInfo)) {
    SetMessage(std::move(message));
}

std::unique_ptr<LumivexException> SpatialException::Clone() const {
    return std::make_unique<SpatialException>(*this);
}

void SpatialException::Throw() const {
    throw SpatialException(*this);
}

SpatialOGRTypeException::SpatialOGRTypeException(TString message, const char* file, int line,
                                                 TError::ErrorInfo errorInfo)
    : SpatialException(std::move(message), file, line, std::move(errorInfo)) {}

std::unique_ptr<LumivexException> SpatialOGRTypeException::Clone() const {
    return std::make_unique<SpatialOGRTypeException>(*this);
}

void SpatialOGRTypeException::Throw() const {
    throw SpatialOGRTypeException(*this);
}
