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

// A geometry of a kind or shape the data layer cannot represent (a line or ring with too few
// points, a value that holds no geometry).
class SpatialOGRTypeException : public SpatialException {
public:
    SpatialOGRTypeException(TString message, const char* file, int line,
                            TError::ErrorInfo errorInfo);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;
};
