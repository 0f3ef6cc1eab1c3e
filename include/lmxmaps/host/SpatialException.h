#pragma once
// Errors about spatial values: a logic error of the caller that handed over a spatial value
// the operation cannot take. The message is the localized text shown to the user.

#include <lmxmaps/host/LumivexException.h>

class SpatialException : public LogicException {
public:
    SpatialException(TString message, const char* file, int line, TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;
};

// Raised for shapes the data layer has no way to store, e.g. a line or ring short of points,
// or a value without any geometry in it.
class SpatialOGRTypeException : public SpatialException {
public:
    SpatialOGRTypeException(TString message, const char* file, int line,
                            TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;
};
