#include <gtest/gtest.h>

#include <lmxmaps/MapNamespace.h>
#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/ValidatingConnector.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/UserCancelException.h>

#include "sources/TestMapProvider.h"

namespace {

TString Q(const char* text) {
    return QString::fromUtf8(text);
}

AttributeMap TestAttributes(const char* name) {
    AttributeMap attributes = {{Q("class"), TStr(TestMapProvider::valueClassAttr)},
                               {Q("server"), Q("tiles.example")},
                               {Q("url"), Q("/maps")},
                               {Q("port"), Q("8080")}};
    if (name) {
        attributes[Q("name")] = Q(name);
    }
    return attributes;
}

std::shared_ptr<MapProvider> Provider(AttributeMap attributes) {
    return std::make_shared<TestMapProvider>(std::move(attributes));
}

class MapSourceTest : public ::testing::Test {
protected:
    void SetUp() override { TestMapProvider::Register(); }
    void TearDown() override { MapConnection::CloseAll(); }
};

} // namespace

TEST_F(MapSourceTest, FactoryNeedsANameAndAKnownClassAndHandsTheProviderTheRest) {
    AttributeMap everything = TestAttributes(nullptr);
    for (const char* key : {"username", "password", "inline", "offline", "description", "tileset",
                            "url-format", "max-scale-level", "copyright-string", "api-key"}) {
        everything[Q(key)] = Q("x");
    }
    try {
        MapSourceFactory(everything);
        FAIL() << "a source without a name was made";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eMissingSourceName);
        EXPECT_EQ(e.GetMessage(), Q("name"));
        EXPECT_EQ(e.GetErrorInfo().logSite, Q("MapProviderException_AutoGen_0xD323EEA7"));
        EXPECT_EQ(e.GetErrorInfo().id, 0xD323EEA7u);
    }

    const AttributeMap attributes = TestAttributes("Streets");
    const std::shared_ptr<MapSource> source = MapSourceFactory(attributes);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->GetName(), Q("Streets"));
    const std::shared_ptr<MapProvider> provider = source->GetMapProvider();
    ASSERT_TRUE(dynamic_cast<TestMapProvider*>(provider.get()));
    EXPECT_EQ(provider, source->GetRootProvider());
    AttributeMap expected = attributes;
    expected.erase(Q("name"));
    EXPECT_EQ(provider->GetAttributes(), expected);

    AttributeMap unknown = attributes;
    unknown[Q("class")] = Q("lmx-no-such-class");
    try {
        MapSourceFactory(unknown);
        FAIL() << "a source of an unknown class was made";
    } catch (const MapProviderException& e) {
        EXPECT_EQ(e.GetType(), MapProviderException::eUnknownClass);
    }

    // Only the exact text "true" makes a source inline.
    const std::pair<const char*, bool> cases[] = {{"true", true},  {"True", false},
                                                  {"TRUE", false}, {"1", false},
                                                  {"", false},     {" true", false}};
    for (const auto& [value, expected] : cases) {
        AttributeMap attributes = TestAttributes("Inline");
        attributes[Q("inline")] = Q(value);
        EXPECT_EQ(MapSourceFactory(attributes)->GetInline(), expected) << value;
    }
    EXPECT_FALSE(MapSourceFactory(TestAttributes("Plain"))->GetInline());
    EXPECT_FALSE(MapSource(Q("No provider"), nullptr).GetInline());
}

TEST_F(MapSourceTest, ANewSourceHasItsOwnIdAndStylesAndEqualsBySameNameAndProvider) {
    const MapSource first(Q("A"), nullptr);
    const MapSource second(Q("A"), nullptr);
    EXPECT_FALSE(first.GetId().IsNull());
    EXPECT_NE(first.GetId(), second.GetId());
    EXPECT_NE(first.GetId().ToString(), second.GetId().ToString());
    EXPECT_NE(&first.GetDefaults(), &second.GetDefaults());

    const MapSource withProvider(Q("A"), Provider(TestAttributes(nullptr)));
    EXPECT_TRUE(first == second);
    EXPECT_TRUE(first != MapSource(Q("B"), nullptr));
    EXPECT_TRUE(first != withProvider);
    EXPECT_TRUE(withProvider != first);
    EXPECT_FALSE(MapSource(Q("a"), nullptr) == first);

    // Distinct provider objects compare by their own equality.
    const MapSource sameService(Q("A"), Provider(TestAttributes(nullptr)));
    EXPECT_TRUE(withProvider == sameService);
    AttributeMap otherServer = TestAttributes(nullptr);
    otherServer[Q("server")] = Q("elsewhere.example");
    EXPECT_TRUE(withProvider != MapSource(Q("A"), Provider(otherServer)));
}

TEST_F(MapSourceTest, ACopySharesIdAndProviderButNotStylesOrUserAttributesOrMissingDefaults) {
    MapSource original(Q("Streets"), Provider(TestAttributes(nullptr)));
    original.SetFilename(Q("streets.lmxms"));
    original.SetModified(true);
    original.SetInline(true);
    original.SetUserAttribute(TStr(MapSource::attrUserWashout), Q("0.3"));
    static_cast<StyleSet&>(original.GetDefaults()).SetStyle(Q("water"), Q("blue"));

    MapSource copy(original);
    EXPECT_EQ(copy.GetId(), original.GetId());
    EXPECT_EQ(copy.GetMapProvider(), original.GetMapProvider());
    EXPECT_EQ(copy.GetFilename(), Q("streets.lmxms"));
    EXPECT_TRUE(copy.IsModified());
    EXPECT_TRUE(copy.GetInline());
    EXPECT_EQ(copy, original);

    auto& copiedStyles = dynamic_cast<StyleSet&>(copy.GetDefaults());
    EXPECT_NE(&copiedStyles, &original.GetDefaults());
    EXPECT_EQ(copiedStyles.GetStyle(Q("water")), Q("blue"));
    copiedStyles.SetStyle(Q("water"), Q("grey"));
    EXPECT_EQ(static_cast<StyleSet&>(original.GetDefaults()).GetStyle(Q("water")), Q("blue"));

    EXPECT_EQ(copy.GetUserAttribute(TStr(MapSource::attrUserWashout)), Q("0.3"));
    copy.SetUserAttribute(TStr(MapSource::attrUserWashout), Q("0.8"));
    copy.SetUserAttribute(TStr(MapSource::attrUserWrap), Q("true"));
    EXPECT_EQ(original.GetUserAttribute(TStr(MapSource::attrUserWashout)), Q("0.3"));
    EXPECT_FALSE(original.HasUserAttribute(TStr(MapSource::attrUserWrap)));

    // Missing defaults are a logic error.
    MapSource bare(Q("A"), nullptr);
    bare.SetDefaults(nullptr);
    try {
        bare.GetDefaults();
        FAIL() << "null defaults were dereferenced";
    } catch (const LogicException& e) {
        EXPECT_EQ(e.GetErrorInfo().logSite, Q("LogicException_LogicAssert_0x00BF554A"));
        EXPECT_EQ(e.GetCondition(), "Null pointer dereferenced");
    }
    // A copy of a source without defaults has none either, rather than failing.
    EXPECT_THROW(MapSource(bare).GetDefaults(), LogicException);
}

TEST_F(MapSourceTest, ConnectLogsTheAttributesButNeverThePasswordAndFailuresNameTheSource) {
    AttributeMap attributes = TestAttributes("Secured");
    attributes[Q("username")] = Q("mapper");
    attributes[Q("password")] = Q("s3cret-pw");
    const std::shared_ptr<MapSource> source = MapSourceFactory(attributes);
    std::vector<TLog::Record> records;
    {
        const TLog::ScopedCapture capture;
        source->Connect();
        records = capture.Records();
    }
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().message, Q("ACTION: MapSource connection for 'Secured'."));
    for (const TLog::Record& record : records) {
        EXPECT_FALSE(record.message.contains(Q("s3cret-pw"))) << record.message.toStdString();
        EXPECT_FALSE(record.message.contains(Q("password"))) << record.message.toStdString();
    }
    const auto logged = [&records](const TString& line) {
        return std::any_of(records.begin(), records.end(), [&line](const TLog::Record& record) {
            return record.message == line && record.severity == TLog::Severity::Info;
        });
    };
    EXPECT_TRUE(logged(Q("\tserver: 'tiles.example'")));
    EXPECT_TRUE(logged(Q("\tusername: 'mapper'")));
    EXPECT_EQ(source->GetMapProvider()->GetAttribute(MapProvider::attrPassword), Q("s3cret-pw"));
    EXPECT_TRUE(source->IsConnected());

    {
        const TLog::ScopedCapture capture;
        source->ResetConnection();
        records = capture.Records();
    }
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().message, Q("ACTION: Resetting Connection for 'Secured'."));
    EXPECT_TRUE(source->IsConnected());
    source->Disconnect();
    EXPECT_FALSE(source->IsConnected());
    EXPECT_FALSE(source->CanReplaceWithSecureConnection());

    AttributeMap unreachable = TestAttributes("Unreachable");
    unreachable[Q("class")] = TStr(TestMapProvider::valueFailingClassAttr);
    const std::shared_ptr<MapSource> unreachableSource = MapSourceFactory(unreachable);
    for (const auto& attempt : {&MapSource::Connect, &MapSource::ResetConnection}) {
        try {
            ((*unreachableSource).*attempt)();
            ADD_FAILURE() << "the connect succeeded";
        } catch (const MapProviderException& e) {
            EXPECT_EQ(e.GetType(), MapProviderException::eServiceUnavailable);
            EXPECT_EQ(e.GetMapSourceName(), Q("Unreachable"));
        }
    }
    EXPECT_FALSE(unreachableSource->IsConnected());

    unreachable[Q("class")] = TStr(TestMapProvider::valueBrokenClassAttr);
    EXPECT_THROW(MapSourceFactory(unreachable)->Connect(), std::runtime_error);

    // Without a provider there is nothing to connect: a programming error.
    EXPECT_THROW(MapSource(Q("Bare"), nullptr).Connect(), LogicException);
    EXPECT_FALSE(MapSource(Q("Bare"), nullptr).IsConnected());
}

namespace {

class MapSourceValidationTest : public MapSourceTest {
protected:
    void TearDown() override {
        ValidatingConnector::sMapSourceValidators.Register(TStr(TestMapProvider::valueClassAttr),
                                                           nullptr);
        Options::Set(Q("AppMode"), std::nullopt);
        MapSourceTest::TearDown();
    }
};

class Authenticator : public IAuthenticator {};

} // namespace

TEST_F(MapSourceValidationTest, TheClassValidatorGetsTheNamedSourceAndWithoutOneItIsCancelled) {
    const MapNamespace mapNamespace;
    Authenticator authenticator;
    const std::shared_ptr<MapSource> stored = MapSourceFactory(TestAttributes("Stored"));
    const auto replacement = std::make_shared<MapSource>(Q("Replacement"), nullptr);
    int calls = 0;
    ValidatingConnector::sMapSourceValidators.Register(
        TStr(TestMapProvider::valueClassAttr),
        [&](const MapNamespace& givenNamespace, AttributeMap& attributes,
            std::shared_ptr<MapSource> source, IAuthenticator* givenAuthenticator) {
            ++calls;
            EXPECT_EQ(&givenNamespace, &mapNamespace);
            EXPECT_EQ(givenAuthenticator, &authenticator);
            EXPECT_EQ(source, stored);
            EXPECT_EQ(attributes.at(Q("name")), Q("Stored"));
            return replacement;
        });
    EXPECT_TRUE(ValidatingConnector::sMapSourceValidators.IsRegistered(
        TStr(TestMapProvider::valueClassAttr)));

    AttributeMap attributes = {{Q("name"), Q("stale")}};
    EXPECT_EQ(
        ValidatingConnector::ValidateMapSource(mapNamespace, attributes, stored, &authenticator),
        replacement);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(attributes.at(Q("name")), Q("Stored"));

    // Without a validator the source is cancelled.
    ValidatingConnector::sMapSourceValidators.Register(TStr(TestMapProvider::valueClassAttr),
                                                       nullptr);
    const auto cancelMessage = [&] {
        attributes.clear();
        try {
            ValidatingConnector::ValidateMapSource(mapNamespace, attributes, stored, nullptr);
        } catch (const UserCancelException& e) {
            EXPECT_EQ(attributes.at(Q("name")), Q("Stored"));
            return e.GetMessage();
        }
        ADD_FAILURE() << "the source was accepted";
        return TString();
    };
    EXPECT_FALSE(ValidatingConnector::sMapSourceValidators.IsRegistered(
        TStr(TestMapProvider::valueClassAttr)));
    const TString desktop = cancelMessage();
    EXPECT_EQ(desktop, LookupTFmtStr(ValidatingConnector::kUnknownClassCancelText, Q("Stored")));
    EXPECT_TRUE(HasTStr(ValidatingConnector::kUnknownClassCancelText));

    Options::Set(Q("AppMode"), Q("reader"));
    const TString reader = cancelMessage();
    EXPECT_EQ(reader,
              LookupTFmtStr(ValidatingConnector::kUnknownClassCancelReaderText, Q("Stored")));
    EXPECT_TRUE(HasTStr(ValidatingConnector::kUnknownClassCancelReaderText));
    EXPECT_NE(reader, desktop);

    // Removing a validator brings the refusal back.
    ValidatingConnector::sMapSourceValidators.Register(TStr(TestMapProvider::valueClassAttr),
                                                       [](const MapNamespace&, AttributeMap&,
                                                          std::shared_ptr<MapSource> source,
                                                          IAuthenticator*) { return source; });
    EXPECT_EQ(ValidatingConnector::ValidateMapSource(mapNamespace, attributes, stored, nullptr),
              stored);
    ValidatingConnector::sMapSourceValidators.Register(TStr(TestMapProvider::valueClassAttr),
                                                       nullptr);
    EXPECT_THROW(ValidatingConnector::ValidateMapSource(mapNamespace, attributes, stored, nullptr),
                 UserCancelException);
}
