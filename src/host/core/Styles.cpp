#include <lmxmaps/host/Styles.h>

RefCntPtr<IStyles> StyleSet::Copy() const {
    return RefCntPtr<IStyles>(new StyleSet(m_styles));
}

TString StyleSet::GetStyle(const TString& name) const {
    const auto found = m_styles.find(name);
    return found == m_styles.end() ? TString() : found->second;
}
