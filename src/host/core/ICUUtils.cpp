#include <lmxmaps/host/ICUUtils.h>

namespace ICUUtils {

TString StrFoldCase(const TString& text, bool turkicI) {
    if (!turkicI) {
        return text.toCaseFolded();
    }
    TString turkic = text;
    turkic.replace(QChar(0x0049), QChar(0x0131));
    turkic.replace(QChar(0x0130), QChar(0x0069));
    return turkic.toCaseFolded();
}

} // namespace ICUUtils
