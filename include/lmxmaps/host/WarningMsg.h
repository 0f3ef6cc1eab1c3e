#pragma once
// A warning for the user: providers, connections and map images collect them, the host
// fetches and shows them. Immutable once made, so it is shared freely between threads.

#include <optional>
#include <utility>

#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/StringTable.h>
#include <lmxmaps/host/TString.h>

class WarningMsg : public RefCntObject {
public:
    // message: the detail text (usually an exception's message); warningType: the host's
    // category, which decides how the warning is shown; stringId: the localized heading the
    // warning was raised under, when there is one.
    WarningMsg(TString message, int warningType, std::optional<StringId> stringId = std::nullopt)
        : m_message(std::move(message)), m_warningType(warningType), m_stringId(stringId) {}

    const TString& GetMessage() const { return m_message; }
    int GetWarningType() const { return m_warningType; }
    const std::optional<StringId>& GetStringId() const { return m_stringId; }

    // The heading (when there is one) and the message on separate lines.
    TString GetDisplayText() const {
        if (!m_stringId) {
            return m_message;
        }
        const TString heading = LookupTStr(*m_stringId);
        return m_message.isEmpty() ? heading : heading + u'\n' + m_message;
    }

private:
    TString m_message;
    int m_warningType;
    std::optional<StringId> m_stringId;
};
