#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/host/Tracing.h>
#include <lmxmaps/host/net/Secrets.h>

#include "providers/QStringPrinter.h"

TEST(Secrets, MaskSecretQueryValuesAndSecretAttributesOnly) {
    const struct {
        const char* text;
        const char* masked;
    } cases[] = {
        {"https://h/s?access_token=pk.a.b&z=1", "https://h/s?access_token=***&z=1"},
        {"/t?x=1&ApiKey=abc%2F1;token=t#f", "/t?x=1&ApiKey=***;token=***#f"},
        {"Could not fetch http://h/p?key=k9: refused",
         "Could not fetch http://h/p?key=***: refused"},
        {"password=hunter2 and api_key=zz", "password=*** and api_key=***"},
        // Names that merely end like a secret one, and texts without parameters, stay.
        {"/t?monkey=1&tokens=2", "/t?monkey=1&tokens=2"},
        {"a token of trust", "a token of trust"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Secrets::RedactUrl(QString::fromLatin1(c.text)), QString::fromLatin1(c.masked));
    }
    const AttributeMap redacted = Secrets::RedactAttributes(
        {{QStringLiteral("password"), QStringLiteral("p")},
         {QStringLiteral("api-key"), QStringLiteral("k")},
         {QStringLiteral("data-apikey"), QStringLiteral("d")},
         {QStringLiteral("url-format"), QStringLiteral("/x?access_token=k")},
         {QStringLiteral("server"), QStringLiteral("h")}});
    EXPECT_EQ(redacted,
              (AttributeMap{{QStringLiteral("url-format"), QStringLiteral("/x?access_token=***")},
                            {QStringLiteral("server"), QStringLiteral("h")}}));
}

TEST(Tracing, ActivitiesNestPerThreadAndReachTheSinkWhenTheyEnd) {
    std::vector<std::string> sunk;
    Tracing::SetSink([&](const Tracing::Span& span) { sunk.push_back(span.name); });
    Tracing::ScopedCapture capture;
    {
        Tracing::Activity outer("outer");
        outer.SetAttribute("k", "1");
        outer.SetAttribute("k", "2");
        {
            Tracing::Activity inner("inner");
            inner.SetFailed("broken");
        }
        // Another thread's activity is not a child of this thread's.
        std::thread([] { Tracing::Activity other("other"); }).join();
    }
    Tracing::Activity("after");
    Tracing::SetSink({});

    const std::vector<Tracing::Span> spans = capture.Spans();
    ASSERT_EQ(spans.size(), 4u);
    EXPECT_EQ(sunk, (std::vector<std::string>{"inner", "other", "outer", "after"}));
    const Tracing::Span& inner = spans[0];
    const Tracing::Span& other = spans[1];
    const Tracing::Span& outer = spans[2];
    const Tracing::Span& after = spans[3];
    EXPECT_EQ(inner.traceId, outer.traceId);
    EXPECT_EQ(inner.parentSpanId, outer.spanId);
    EXPECT_NE(inner.spanId, outer.spanId);
    EXPECT_TRUE(inner.failed);
    EXPECT_EQ(inner.statusMessage, "broken");
    EXPECT_EQ(outer.parentSpanId, Tracing::SpanId{});
    EXPECT_NE(other.traceId, outer.traceId);
    EXPECT_NE(after.traceId, outer.traceId);
    EXPECT_EQ(outer.attributes,
              (std::vector<std::pair<std::string, Tracing::AttributeValue>>{{"k", "2"}}));
    EXPECT_LE(outer.start, inner.start);
    EXPECT_LE(inner.end, outer.end);
    EXPECT_EQ(Tracing::ToHex(outer.spanId).size(), 16u);
    EXPECT_EQ(Tracing::ToHex(outer.traceId).find_first_not_of("0123456789abcdef"),
              std::string::npos);
}
