#pragma once
// Style sets: the named style values a map source keeps as its defaults. The host's real style
// model is richer; a source only needs to hold one and copy it.

#include <map>

#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>

class IStyles : public RefCntObject {
public:
    // An independent copy with its own reference count.
    virtual RefCntPtr<IStyles> Copy() const = 0;
};

// Style values by name. Not thread-safe: the owner serialises changes.
class StyleSet : public IStyles {
public:
    using Styles = std::map<TString, TString>;

    StyleSet() = default;
    explicit StyleSet(Styles styles) : m_styles(std::move(styles)) {}

    RefCntPtr<IStyles> Copy() const override;

    bool HasStyle(const TString& name) const { return m_styles.count(name) != 0; }
    // Empty when absent.
    TString GetStyle(const TString& name) const;
    void SetStyle(const TString& name, const TString& value) { m_styles[name] = value; }
    void RemoveStyle(const TString& name) { m_styles.erase(name); }
    const Styles& GetStyles() const { return m_styles; }

private:
    Styles m_styles;
};
