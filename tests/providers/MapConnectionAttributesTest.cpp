#include <gtest/gtest.h>

#include <lmxmaps/MapConnectionAttributes.h>

namespace {

AttributeMap Attributes(std::initializer_list<std::pair<const char*, const char*>> entries) {
    AttributeMap map;
    for (const auto& [key, value] : entries) {
        map[QString::fromUtf8(key)] = QString::fromUtf8(value);
    }
    return map;
}

} // namespace

// Registrations are process-wide, so this suite owns the classes it names and runs the
// default-filter cases in one test, in a fixed order.
TEST(MapConnectionAttributes, ClassFiltersThenDefaultThenBuiltInFallback) {
    const AttributeMap source = Attributes({{"class", "Filtered"},
                                            {"server", "tiles.example"},
                                            {"offline", "yes"},
                                            {"password", "secret"},
                                            {"description", "Streets"}});

    AttributeMap unfiltered = source;
    unfiltered[QStringLiteral("class")] = QStringLiteral("NoFilters");
    AttributeMap required = unfiltered;
    MapConnectionAttributes::FilterRequiredAttributes(required);
    EXPECT_EQ(required.count(QStringLiteral("offline")), 0u);
    EXPECT_EQ(required.size(), unfiltered.size() - 1);
    AttributeMap secure = unfiltered;
    MapConnectionAttributes::FilterSecureAttributes(secure);
    EXPECT_EQ(secure.count(QStringLiteral("password")), 0u);
    EXPECT_EQ(secure.size(), unfiltered.size() - 1);

    MapConnectionAttributes::RegisterRequiredAttributeFilter(
        QStringLiteral("Filtered"),
        [](AttributeMap& map) { map.erase(QStringLiteral("description")); });
    AttributeMap filtered = source;
    MapConnectionAttributes::FilterRequiredAttributes(filtered);
    EXPECT_EQ(filtered.count(QStringLiteral("description")), 0u);
    // The class filter replaces the fallback: "offline" stays.
    EXPECT_EQ(filtered.count(QStringLiteral("offline")), 1u);

    MapConnectionAttributes::RegisterSecureAttributeFilter(
        QString(), [](AttributeMap& map) { map.erase(QStringLiteral("server")); });
    AttributeMap byDefault = unfiltered;
    MapConnectionAttributes::FilterSecureAttributes(byDefault);
    EXPECT_EQ(byDefault.count(QStringLiteral("server")), 0u);
    EXPECT_EQ(byDefault.count(QStringLiteral("password")), 1u);

    AttributeMap classless = Attributes({{"password", "p"}, {"server", "s"}});
    MapConnectionAttributes::FilterSecureAttributes(classless);
    EXPECT_EQ(classless, Attributes({{"password", "p"}}));

    // Leave a default that behaves like the built-in one for later tests in this process.
    MapConnectionAttributes::RegisterSecureAttributeFilter(
        QString(), [](AttributeMap& map) { map.erase(QStringLiteral("password")); });
}
