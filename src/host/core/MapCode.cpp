#include <lmxmaps/host/MapCode.h>

TString MapCodeString(MapCode code) {
    switch (code) {
    case MapCode::Default:
        break;
    }
    return QStringLiteral("default");
}

MapCode LanguageMapCode(const LanguageCode&) {
    return MapCode::Default;
}
