#pragma once
// A dotted version number ("1.1.1", "1.3.0") as protocol versions are negotiated with.

#include <compare>
#include <cstddef>
#include <vector>

#include <lmxmaps/host/TString.h>

class VersionNumber {
public:
    // Invalid.
    VersionNumber() = default;
    VersionNumber(int major, int minor, int patch);
    // Invalid when empty or any part is negative.
    explicit VersionNumber(std::vector<int> parts);

    // Non-negative decimal parts between any of the separator characters ("1-3-0" with "-.").
    // Surrounding blanks are ignored; anything else (an empty part, a sign, a letter) makes
    // the result invalid.
    static VersionNumber Parse(const TString& text,
                               const TString& separators = QStringLiteral("."));

    bool IsValid() const { return !m_parts.empty(); }
    const std::vector<int>& GetParts() const { return m_parts; }
    // 0 past the last part.
    int GetPart(std::size_t index) const;
    // Parts joined with '.'; empty when invalid.
    TString ToString() const;

    // Missing trailing parts count as 0 (1.1 == 1.1.0); an invalid number sorts before every
    // valid one and equals another invalid one.
    std::strong_ordering operator<=>(const VersionNumber& other) const;
    bool operator==(const VersionNumber& other) const {
        return (*this <=> other) == std::strong_ordering::equal;
    }

private:
    std::vector<int> m_parts;
};
