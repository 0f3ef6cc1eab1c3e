#include <lmxmaps/host/TString.h>

TString FormatPlaceholders(const TFormatString& format, const std::vector<TString>& arguments) {
    TString result;
    result.reserve(format.size());
    for (auto c = format.cbegin(); c != format.cend(); ++c) {
        const auto next = c + 1;
        if (*c != u'%' || next == format.cend()) {
            result += *c;
            continue;
        }
        if (*next == u'%') {
            result += u'%';
            c = next;
            continue;
        }
        const int number = next->digitValue();
        if (number >= 1 && static_cast<std::size_t>(number) <= arguments.size()) {
            result += arguments[static_cast<std::size_t>(number - 1)];
            c = next;
            continue;
        }
        result += *c;
    }
    return result;
}
