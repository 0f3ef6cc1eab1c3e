#pragma once
// A read-only XML tree for server answers (capabilities documents, exception reports).
//
// Parsing never reads anything but the given bytes: a DOCTYPE is skipped without loading its
// DTD, and entities declared in it are not expanded (a reference to one stays as written), so
// a hostile document can neither make us fetch a file or URL nor blow up in size. The
// predefined entities (&amp; &lt; ...) and character references are decoded.
//
// Names are compared as written, prefix included ("xlink:href"), without namespace
// resolution. Elements are handles into their document: they must not outlive it.

#include <QByteArray>
#include <cstddef>
#include <iterator>
#include <memory>

#include <lmxmaps/host/TString.h>

class DOMElementChildren;

// One element of a DOMDocument, or a null handle. Cheap to copy.
class DOMElement {
public:
    DOMElement() = default;

    bool IsNull() const { return m_node == nullptr; }

    // The qualified name as written ("WMT_MS_Capabilities", "wms:Layer"); empty when null.
    TString GetName() const;
    // Empty string for a missing attribute.
    TString GetAttribute(const TString& qualifiedName) const;
    bool HasAttribute(const TString& qualifiedName) const;
    // The element's own text and CDATA children joined, trimmed; child elements' text is not
    // included.
    TString GetText() const;

    // The first child element with that name; a null handle when there is none.
    DOMElement GetFirstChild(const TString& name) const;
    DOMElementChildren GetChildren() const;
    DOMElementChildren GetChildren(const TString& name) const;
    // The first element with that name below this one, in document order (depth-first).
    DOMElement FindFirstDescendant(const TString& name) const;

    // Same element of the same document.
    bool operator==(const DOMElement& other) const { return m_node == other.m_node; }

private:
    friend class DOMDocument;
    friend class DOMElementChildren;
    friend struct DOMAccess;
    explicit DOMElement(void* node) : m_node(node) {}

    // The parser's node; opaque here so that the parser stays out of this header.
    void* m_node = nullptr;
};

// The child elements of an element, optionally only those with one name, for range-for.
class DOMElementChildren {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = DOMElement;
        using difference_type = std::ptrdiff_t;
        using pointer = const DOMElement*;
        using reference = const DOMElement&;

        Iterator() = default;
        reference operator*() const { return m_current; }
        pointer operator->() const { return &m_current; }
        Iterator& operator++();
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const { return m_current == other.m_current; }

    private:
        friend class DOMElementChildren;
        Iterator(DOMElement current, QByteArray name)
            : m_current(current), m_name(std::move(name)) {}

        DOMElement m_current;
        // UTF-8; empty matches every element.
        QByteArray m_name;
    };

    Iterator begin() const;
    Iterator end() const { return Iterator(); }
    bool IsEmpty() const { return begin() == end(); }
    std::size_t Count() const;

private:
    friend class DOMElement;
    DOMElementChildren(DOMElement parent, QByteArray name)
        : m_parent(parent), m_name(std::move(name)) {}

    DOMElement m_parent;
    QByteArray m_name;
};

// A parsed document; a default-constructed or failed one is invalid and has a null root.
class DOMDocument {
public:
    DOMDocument();
    ~DOMDocument();
    DOMDocument(DOMDocument&& other) noexcept;
    DOMDocument& operator=(DOMDocument&& other) noexcept;
    DOMDocument(const DOMDocument&) = delete;
    DOMDocument& operator=(const DOMDocument&) = delete;

    bool IsValid() const;
    // Why parsing failed, with the byte offset, line and column; empty when valid.
    const TString& GetError() const { return m_error; }

    DOMElement GetRoot() const;
    // The first element with that name in document order, the root included.
    DOMElement FindFirst(const TString& name) const;

private:
    friend class DOMParser;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    TString m_error;
};

class DOMParser {
public:
    // The bytes' encoding comes from a byte-order mark or the XML declaration, UTF-8 when
    // neither says.
    static DOMDocument Parse(const QByteArray& bytes);
};
