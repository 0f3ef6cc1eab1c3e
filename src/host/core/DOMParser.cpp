#include <algorithm>
#include <cstring>
#include <pugixml.hpp>

#include <lmxmaps/host/DOMParser.h>

struct DOMAccess {
    static pugi::xml_node Node(const DOMElement& element) {
        return pugi::xml_node(static_cast<pugi::xml_node_struct*>(element.m_node));
    }
    static DOMElement Element(pugi::xml_node node) {
        return node.type() == pugi::node_element ? DOMElement(node.internal_object())
                                                 : DOMElement();
    }
};

namespace {

QByteArray Utf8(const TString& text) {
    return text.toUtf8();
}

TString FromPugi(const pugi::char_t* text) {
    return QString::fromUtf8(text);
}

bool IsElementNamed(pugi::xml_node node, const QByteArray& name) {
    return node.type() == pugi::node_element &&
           (name.isEmpty() || std::strcmp(node.name(), name.constData()) == 0);
}

pugi::xml_node NextElement(pugi::xml_node node, const QByteArray& name) {
    while (node && !IsElementNamed(node, name)) {
        node = node.next_sibling();
    }
    return node;
}

// Depth-first in document order below `top`, without recursion: documents can nest deeply.
pugi::xml_node FindBelow(pugi::xml_node top, const QByteArray& name) {
    pugi::xml_node node = top.first_child();
    while (node) {
        if (IsElementNamed(node, name)) {
            return node;
        }
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != top && !node.next_sibling()) {
            node = node.parent();
        }
        if (node == top) {
            break;
        }
        node = node.next_sibling();
    }
    return {};
}

TString DescribeError(const pugi::xml_parse_result& result, const QByteArray& bytes) {
    const int offset = static_cast<int>(std::clamp<std::ptrdiff_t>(result.offset, 0, bytes.size()));
    // lastIndexOf(c, -1) would search from the end.
    const int lineStart = offset == 0 ? 0 : bytes.lastIndexOf('\n', offset - 1) + 1;
    const int line = static_cast<int>(std::count(bytes.begin(), bytes.begin() + offset, '\n')) + 1;
    return QStringLiteral("%1 at offset %2 (line %3, column %4)")
        .arg(QString::fromUtf8(result.description()))
        .arg(result.offset)
        .arg(line)
        .arg(offset - lineStart + 1);
}

} // namespace

TString DOMElement::GetName() const {
    return FromPugi(DOMAccess::Node(*this).name());
}

TString DOMElement::GetAttribute(const TString& qualifiedName) const {
    return FromPugi(DOMAccess::Node(*this).attribute(Utf8(qualifiedName).constData()).value());
}

bool DOMElement::HasAttribute(const TString& qualifiedName) const {
    return !DOMAccess::Node(*this).attribute(Utf8(qualifiedName).constData()).empty();
}

TString DOMElement::GetText() const {
    QByteArray text;
    for (pugi::xml_node child : DOMAccess::Node(*this).children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            text += child.value();
        }
    }
    return QString::fromUtf8(text).trimmed();
}

DOMElement DOMElement::GetFirstChild(const TString& name) const {
    if (name.isEmpty()) {
        return {};
    }
    return DOMAccess::Element(NextElement(DOMAccess::Node(*this).first_child(), Utf8(name)));
}

DOMElementChildren DOMElement::GetChildren() const {
    return DOMElementChildren(*this, QByteArray());
}

DOMElementChildren DOMElement::GetChildren(const TString& name) const {
    // An empty name would mean "any element"; no element is named "".
    return name.isEmpty() ? DOMElementChildren(DOMElement(), QByteArray())
                          : DOMElementChildren(*this, Utf8(name));
}

DOMElement DOMElement::FindFirstDescendant(const TString& name) const {
    if (IsNull() || name.isEmpty()) {
        return {};
    }
    return DOMAccess::Element(FindBelow(DOMAccess::Node(*this), Utf8(name)));
}

DOMElementChildren::Iterator& DOMElementChildren::Iterator::operator++() {
    const pugi::xml_node node = DOMAccess::Node(m_current);
    m_current = DOMAccess::Element(NextElement(node.next_sibling(), m_name));
    return *this;
}

DOMElementChildren::Iterator DOMElementChildren::begin() const {
    const pugi::xml_node first = DOMAccess::Node(m_parent).first_child();
    return Iterator(DOMAccess::Element(NextElement(first, m_name)), m_name);
}

std::size_t DOMElementChildren::Count() const {
    return static_cast<std::size_t>(std::distance(begin(), end()));
}

struct DOMDocument::Impl {
    pugi::xml_document document;
};

DOMDocument::DOMDocument() = default;
DOMDocument::~DOMDocument() = default;
DOMDocument::DOMDocument(DOMDocument&& other) noexcept = default;
DOMDocument& DOMDocument::operator=(DOMDocument&& other) noexcept = default;

bool DOMDocument::IsValid() const {
    return m_impl != nullptr;
}

DOMElement DOMDocument::GetRoot() const {
    return m_impl ? DOMAccess::Element(m_impl->document.document_element()) : DOMElement();
}

DOMElement DOMDocument::FindFirst(const TString& name) const {
    if (!m_impl || name.isEmpty()) {
        return {};
    }
    return DOMAccess::Element(FindBelow(m_impl->document, Utf8(name)));
}

DOMDocument DOMParser::Parse(const QByteArray& bytes) {
    // Without parse_doctype the DOCTYPE, internal subset included, is skipped unread; pugixml
    // never loads external resources and leaves unknown entity references as text.
    constexpr unsigned int kOptions =
        pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_eol;
    DOMDocument result;
    auto impl = std::make_unique<DOMDocument::Impl>();
    const pugi::xml_parse_result parsed = impl->document.load_buffer(
        bytes.constData(), static_cast<std::size_t>(bytes.size()), kOptions, pugi::encoding_auto);
    if (parsed) {
        result.m_impl = std::move(impl);
    } else {
        result.m_error = DescribeError(parsed, bytes);
    }
    return result;
}
