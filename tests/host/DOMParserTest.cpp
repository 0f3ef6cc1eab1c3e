#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

#include <lmxmaps/host/DOMParser.h>

namespace {

const QString N = QStringLiteral("n");

std::vector<TString> Tags(const DOMElementChildren& children) {
    std::vector<TString> tags;
    for (const DOMElement& child : children) {
        tags.push_back(child.GetName() + u'=' + child.GetAttribute(N));
    }
    return tags;
}

const char kCapabilities[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<WMT_MS_Capabilities version="1.1.1" xmlns:xlink="http://www.w3.org/1999/xlink">
  <Service>
    <Title>  Cartes de l'Île &amp; Zürich  </Title>
    <OnlineResource xlink:href="http://127.0.0.1/wms?"/>
  </Service>
  <Capability>
    <Layer n="top">
      <Name>top</Name>
      <Layer n="a"><Name>a</Name><Layer n="deep"/></Layer>
      <Style n="s"/>
      <Layer n="b"><Title>b<![CDATA[ <raw> ]]>tail</Title></Layer>
    </Layer>
  </Capability>
</WMT_MS_Capabilities>
)";

} // namespace

TEST(DOMParser, ReadsNamesAttributesAndOwnTextAndChildrenAndSearchesFollowDocumentOrder) {
    const DOMDocument doc = DOMParser::Parse(QByteArray(kCapabilities));
    ASSERT_TRUE(doc.IsValid()) << doc.GetError().toStdString();
    const DOMElement root = doc.GetRoot();
    EXPECT_EQ(root.GetName(), QStringLiteral("WMT_MS_Capabilities"));
    EXPECT_EQ(root.GetAttribute(QStringLiteral("version")), QStringLiteral("1.1.1"));
    const DOMElement service = root.GetFirstChild(QStringLiteral("Service"));
    EXPECT_EQ(service.GetFirstChild(QStringLiteral("Title")).GetText(),
              QString::fromUtf8("Cartes de l'Île & Zürich"));
    const DOMElement online = service.GetFirstChild(QStringLiteral("OnlineResource"));
    EXPECT_EQ(online.GetAttribute(QStringLiteral("xlink:href")),
              QStringLiteral("http://127.0.0.1/wms?"));
    // Names are matched as written, prefix included.
    EXPECT_FALSE(online.HasAttribute(QStringLiteral("href")));
    // CDATA counts as text; child elements' text does not.
    EXPECT_EQ(doc.FindFirst(QStringLiteral("Capability"))
                  .FindFirstDescendant(QStringLiteral("Title"))
                  .GetText(),
              QStringLiteral("b <raw> tail"));
    EXPECT_EQ(root.GetFirstChild(QStringLiteral("Capability")).GetText(), QString());
    EXPECT_TRUE(root.GetFirstChild(QStringLiteral("Nothing")).GetChildren().IsEmpty());

    const DOMElement top = doc.FindFirst(QStringLiteral("Layer"));
    EXPECT_EQ(Tags(top.GetChildren()),
              (std::vector<TString>{QStringLiteral("Name="), QStringLiteral("Layer=a"),
                                    QStringLiteral("Style=s"), QStringLiteral("Layer=b")}));
    EXPECT_EQ(Tags(top.GetChildren(QStringLiteral("Layer"))),
              (std::vector<TString>{QStringLiteral("Layer=a"), QStringLiteral("Layer=b")}));
    // Depth-first: "deep" inside "a" comes before a's later siblings, and a search stays below
    // its element.
    const DOMElement a = top.GetFirstChild(QStringLiteral("Layer"));
    EXPECT_EQ(a.FindFirstDescendant(QStringLiteral("Layer")).GetAttribute(N),
              QStringLiteral("deep"));
    EXPECT_TRUE(a.FindFirstDescendant(QStringLiteral("Style")).IsNull());
    EXPECT_EQ(doc.FindFirst(QStringLiteral("WMT_MS_Capabilities")), doc.GetRoot());
    EXPECT_TRUE(doc.GetRoot().FindFirstDescendant(QStringLiteral("WMT_MS_Capabilities")).IsNull());
}

TEST(DOMParser, MalformedInputIsInvalidDocumentsMoveAndDTDsAndEntitiesAreNeverRead) {
    const DOMDocument broken = DOMParser::Parse(QByteArray("<a>\n  <b></c>\n</a>"));
    EXPECT_FALSE(broken.IsValid());
    EXPECT_TRUE(broken.GetRoot().IsNull());
    EXPECT_TRUE(broken.GetError().contains(QStringLiteral("offset")))
        << broken.GetError().toStdString();
    EXPECT_TRUE(broken.GetError().contains(QStringLiteral("line 2")))
        << broken.GetError().toStdString();
    for (const char* text : {"", "text", "<a>", "<!DOCTYPE a SYSTEM \"a.dtd\">"}) {
        EXPECT_FALSE(DOMParser::Parse(QByteArray(text)).IsValid()) << text;
    }

    DOMDocument first = DOMParser::Parse(QByteArray("<a><b>x</b></a>"));
    const DOMElement b = first.GetRoot().GetFirstChild(QStringLiteral("b"));
    DOMDocument moved;
    moved = std::move(first);
    EXPECT_EQ(moved.FindFirst(QStringLiteral("b")), b);
    EXPECT_EQ(b.GetText(), QStringLiteral("x"));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Were the DTD read, its entity would put "boom" in the text and its syntax error would fail
    // the parse.
    QFile dtd(dir.filePath(QStringLiteral("caps.dtd")));
    ASSERT_TRUE(dtd.open(QIODevice::WriteOnly));
    dtd.write("<!ENTITY e \"boom\"> <!ELEMENT broken");
    dtd.close();
    const DOMDocument external = DOMParser::Parse(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE WMT_MS_Capabilities SYSTEM \"file://" +
        dtd.fileName().toUtf8() + "\">\n<WMT_MS_Capabilities>&e;</WMT_MS_Capabilities>");
    ASSERT_TRUE(external.IsValid()) << external.GetError().toStdString();
    EXPECT_EQ(external.GetRoot().GetName(), QStringLiteral("WMT_MS_Capabilities"));
    EXPECT_FALSE(external.GetRoot().GetText().contains(QStringLiteral("boom")));

    const DOMDocument internal =
        DOMParser::Parse(QByteArray("<!DOCTYPE x [<!ENTITY e \"boom\">]><x a=\"&e;\">&e;</x>"));
    ASSERT_TRUE(internal.IsValid()) << internal.GetError().toStdString();
    EXPECT_FALSE(internal.GetRoot().GetText().contains(QStringLiteral("boom")));
    EXPECT_FALSE(
        internal.GetRoot().GetAttribute(QStringLiteral("a")).contains(QStringLiteral("boom")));
    // Predefined entities and character references are still decoded.
    EXPECT_EQ(DOMParser::Parse(QByteArray("<x>&lt;&#233;&#x4E2D;</x>")).GetRoot().GetText(),
              QString::fromUtf8("<é中"));
    // Older servers declare Latin-1.
    EXPECT_EQ(DOMParser::Parse(
                  QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><t>Z\xFCrich</t>"))
                  .GetRoot()
                  .GetText(),
              QString::fromUtf8("Zürich"));
}
