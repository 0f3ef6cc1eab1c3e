#pragma once
// The name of a data field (for instance the longitude and latitude fields of a map view).

#include <lmxmaps/host/TString.h>

class FieldName {
public:
    FieldName() = default;
    explicit FieldName(TString name) : m_name(std::move(name)) {}

    const TString& GetName() const { return m_name; }
    bool IsEmpty() const { return m_name.isEmpty(); }

    bool operator==(const FieldName& other) const = default;

private:
    TString m_name;
};
