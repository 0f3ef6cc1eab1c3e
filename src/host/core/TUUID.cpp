#include <lmxmaps/host/TUUID.h>

TUUID TUUID::CreateUUID() {
    return TUUID(QUuid::createUuid());
}

TString TUUID::ToString() const {
    return m_uuid.toString(QUuid::WithoutBraces);
}
