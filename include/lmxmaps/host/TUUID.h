#pragma once
// A universally unique identifier; the null UUID unless made by CreateUUID.

#include <QUuid>

#include <lmxmaps/host/TString.h>

class TUUID {
public:
    TUUID() = default;

    // A new random (version 4) UUID.
    static TUUID CreateUUID();

    bool IsNull() const { return m_uuid.isNull(); }
    // The lower-case hexadecimal form without braces ("1b4e28ba-2fa1-11d2-883f-0016d3cca427").
    TString ToString() const;

    bool operator==(const TUUID& other) const { return m_uuid == other.m_uuid; }
    bool operator!=(const TUUID& other) const { return !(*this == other); }

private:
    explicit TUUID(const QUuid& uuid) : m_uuid(uuid) {}

    QUuid m_uuid;
};
