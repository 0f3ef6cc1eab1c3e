#pragma once

#include <charconv>
#include <optional>
#include <string_view>

// A whole string as a decimal number ("nan" and "inf" included); nullopt otherwise.
inline std::optional<double> ParseDouble(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}
