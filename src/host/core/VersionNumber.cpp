#include <algorithm>

#include <lmxmaps/host/VersionNumber.h>

VersionNumber::VersionNumber(int major, int minor, int patch)
    : VersionNumber(std::vector<int>{major, minor, patch}) {}

VersionNumber::VersionNumber(std::vector<int> parts) : m_parts(std::move(parts)) {
    if (std::any_of(m_parts.begin(), m_parts.end(), [](int part) { return part < 0; })) {
        m_parts.clear();
    }
}

VersionNumber VersionNumber::Parse(const TString& text, const TString& separators) {
    std::vector<int> parts;
    TString part;
    const TString trimmed = text.trimmed();
    // One more round past the end closes the last part.
    for (int i = 0; i <= trimmed.size(); ++i) {
        if (i < trimmed.size() && !separators.contains(trimmed[i])) {
            const QChar c = trimmed[i];
            // QString::toInt would accept signs and blanks, and isDigit other scripts' digits.
            if (c < u'0' || c > u'9') {
                return {};
            }
            part += c;
            continue;
        }
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok) {
            return {};
        }
        parts.push_back(value);
        part.clear();
    }
    return VersionNumber(std::move(parts));
}

int VersionNumber::GetPart(std::size_t index) const {
    return index < m_parts.size() ? m_parts[index] : 0;
}

TString VersionNumber::ToString() const {
    QStringList parts;
    for (const int part : m_parts) {
        parts.append(QString::number(part));
    }
    return parts.join(u'.');
}

std::strong_ordering VersionNumber::operator<=>(const VersionNumber& other) const {
    if (!IsValid() || !other.IsValid()) {
        return IsValid() <=> other.IsValid();
    }
    const std::size_t count = std::max(m_parts.size(), other.m_parts.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (const auto order = GetPart(i) <=> other.GetPart(i); order != 0) {
            return order;
        }
    }
    return std::strong_ordering::equal;
}
