#include "sim/XmlNode.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace satsim {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsName(char c) {
    return isSpace(c) || c == '/' || c == '>' || c == '=' || c == '<';
}

// Names begin with a letter, "_", ":" or a character beyond ASCII; this
// keeps "<!DOCTYPE" and other markup from passing for an element.
bool beginsName(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u >= 0x80;
}

// The UTF-8 form of a character reference; false for code points XML does
// not allow (NUL, other controls, surrogates, beyond Unicode).
bool appendUtf8(unsigned long code, std::string& out) {
    bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                   (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    if (!allowed)
        return false;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return true;
}

bool appendReference(const std::string& ref, std::string& out) {
    static const std::pair<const char*, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : named) {
        if (ref == entity.first) {
            out += entity.second;
            return true;
        }
    }
    bool hex = ref.size() > 2 && ref.compare(0, 2, "#x") == 0;
    std::size_t first = hex ? 2 : 1;
    if (ref.size() <= first || ref.size() > first + 7 || ref[0] != '#')
        return false;
    unsigned long code = 0;
    for (std::size_t i = first; i < ref.size(); ++i) {
        int digit = std::isdigit(static_cast<unsigned char>(ref[i])) ? ref[i] - '0'
                    : hex && std::isxdigit(static_cast<unsigned char>(ref[i]))
                        ? std::tolower(static_cast<unsigned char>(ref[i])) - 'a' + 10
                        : -1;
        if (digit < 0)
            return false;
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    }
    return appendUtf8(code, out);
}

// Appends `raw` decoded: references resolved, literal line ends read as a
// newline, and in attribute values literal white space read as a space.
bool appendDecoded(const std::string& text, std::size_t from, std::size_t to, bool attribute,
                   std::string& out) {
    for (std::size_t i = from; i < to; ++i) {
        char c = text[i];
        if (c == '<')
            return false;
        if (c == '&') {
            std::size_t semi = text.find(';', i);
            if (semi == std::string::npos || semi >= to ||
                !appendReference(text.substr(i + 1, semi - i - 1), out))
                return false;
            i = semi;
            continue;
        }
        if (c == '\r' && i + 1 < to && text[i + 1] == '\n')
            continue;
        if (c == '\r')
            c = '\n';
        out += attribute && isSpace(c) ? ' ' : c;
    }
    return true;
}

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    bool document(XmlNode& root) {
        if (startsWith("\xEF\xBB\xBF"))
            m_at += 3;
        return skipMarkup() && element(root, 1) && skipMarkup() && m_at == m_text.size();
    }

private:
    bool startsWith(const char* prefix) const {
        return m_text.compare(m_at, std::strlen(prefix), prefix) == 0;
    }

    void skipSpace() {
        while (m_at < m_text.size() && isSpace(m_text[m_at]))
            ++m_at;
    }

    bool skipPast(const char* end) {
        std::size_t found = m_text.find(end, m_at);
        if (found == std::string::npos)
            return false;
        m_at = found + std::strlen(end);
        return true;
    }

    // Comments and processing instructions (the declaration among them),
    // with the white space around them.
    bool skipMarkup() {
        for (skipSpace(); startsWith("<?") || startsWith("<!--"); skipSpace()) {
            if (!skipPast(startsWith("<?") ? "?>" : "-->"))
                return false;
        }
        return true;
    }

    bool name(std::string& out) {
        std::size_t begin = m_at;
        if (m_at >= m_text.size() || !beginsName(m_text[m_at]))
            return false;
        while (m_at < m_text.size() && !endsName(m_text[m_at]))
            ++m_at;
        out.assign(m_text, begin, m_at - begin);
        return true;
    }

    bool attribute(XmlNode& node) {
        std::string attributeName;
        if (!name(attributeName))
            return false;
        skipSpace();
        if (m_at >= m_text.size() || m_text[m_at] != '=')
            return false;
        ++m_at;
        skipSpace();
        char quote = m_at < m_text.size() ? m_text[m_at] : '\0';
        std::size_t end =
            quote == '"' || quote == '\'' ? m_text.find(quote, m_at + 1) : std::string::npos;
        std::string value;
        if (end == std::string::npos || !appendDecoded(m_text, m_at + 1, end, true, value))
            return false;
        node.attributes.emplace_back(attributeName, value);
        m_at = end + 1;
        return true;
    }

    bool element(XmlNode& node, std::size_t depth) {
        if (depth > XmlNode::MAX_DEPTH || !startsWith("<"))
            return false;
        ++m_at;
        if (!name(node.name))
            return false;
        for (;;) {
            skipSpace();
            if (startsWith("/>")) {
                m_at += 2;
                return true;
            }
            if (startsWith(">")) {
                ++m_at;
                return content(node, depth);
            }
            if (!attribute(node))
                return false;
        }
    }

    // Character data, CDATA sections, comments and child elements up to the
    // end tag; an element with children keeps no text.
    bool content(XmlNode& node, std::size_t depth) {
        std::string text;
        for (;;) {
            std::size_t markup = m_text.find('<', m_at);
            if (markup == std::string::npos || !appendDecoded(m_text, m_at, markup, false, text))
                return false;
            m_at = markup;
            if (startsWith("</"))
                break;
            if (startsWith("<![CDATA[")) {
                std::size_t end = m_text.find("]]>", m_at);
                if (end == std::string::npos)
                    return false;
                text.append(m_text, m_at + 9, end - m_at - 9);
                m_at = end + 3;
            } else if (startsWith("<?") || startsWith("<!--")) {
                if (!skipPast(startsWith("<?") ? "?>" : "-->"))
                    return false;
            } else {
                node.children.emplace_back();
                if (!element(node.children.back(), depth + 1))
                    return false;
            }
        }
        m_at += 2;
        std::string closing;
        if (!name(closing) || closing != node.name)
            return false;
        skipSpace();
        if (!startsWith(">"))
            return false;
        ++m_at;
        if (node.children.empty())
            node.text = text;
        return true;
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

// The canonical escapes: in text &, <, > and CR; in attribute values &, <,
// the quote, tab, LF and CR.
void appendEscaped(const std::string& text, bool attribute, std::string& out) {
    static const struct {
        char c;
        const char* escaped;
        bool inText, inAttribute;
    } ESCAPES[] = {{'&', "&amp;", true, true},   {'<', "&lt;", true, true},
                   {'>', "&gt;", true, false},   {'"', "&quot;", false, true},
                   {'\t', "&#x9;", false, true}, {'\n', "&#xA;", false, true},
                   {'\r', "&#xD;", true, true}};
    for (char c : text) {
        const char* escaped = nullptr;
        for (const auto& escape : ESCAPES)
            if (escape.c == c && (attribute ? escape.inAttribute : escape.inText))
                escaped = escape.escaped;
        if (escaped != nullptr)
            out += escaped;
        else
            out += c;
    }
}

bool isNamespaceDeclaration(const std::string& attributeName) {
    return attributeName == "xmlns" || attributeName.compare(0, 6, "xmlns:") == 0;
}

}  // namespace

bool XmlNode::parse(const std::string& document, XmlNode& root) {
    root = XmlNode();
    return Parser(document).document(root);
}

const XmlNode* XmlNode::child(const std::string& childName) const {
    for (const XmlNode& node : children)
        if (node.name == childName)
            return &node;
    return nullptr;
}

const XmlNode* XmlNode::find(const std::string& path) const {
    const XmlNode* node = this;
    for (std::size_t start = 0; node != nullptr && start <= path.size();) {
        std::size_t slash = std::min(path.find('/', start), path.size());
        node = node->child(path.substr(start, slash - start));
        start = slash + 1;
    }
    return node;
}

std::string XmlNode::textAt(const std::string& path) const {
    const XmlNode* node = find(path);
    return node != nullptr ? node->text : std::string();
}

std::string XmlNode::attribute(const std::string& attributeName) const {
    for (const auto& entry : attributes)
        if (entry.first == attributeName)
            return entry.second;
    return std::string();
}

const XmlNode* XmlNode::findAnywhere(const std::string& elementName) const {
    for (const XmlNode& node : children) {
        if (node.name == elementName)
            return &node;
        if (const XmlNode* below = node.findAnywhere(elementName))
            return below;
    }
    return nullptr;
}

XmlNode& XmlNode::add(XmlNode node) {
    children.push_back(std::move(node));
    return children.back();
}

XmlNode& XmlNode::add(const std::string& childName, const std::string& content) {
    return add(XmlNode(childName, content));
}

std::string XmlNode::canonical() const {
    std::string out;
    appendCanonical(out);
    return out;
}

// Namespace declarations come first, then the attributes by name.
void XmlNode::appendCanonical(std::string& out) const {
    auto ordered = attributes;
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        bool aDeclares = isNamespaceDeclaration(a.first),
             bDeclares = isNamespaceDeclaration(b.first);
        return aDeclares != bDeclares ? aDeclares : a.first < b.first;
    });
    out += '<';
    out += name;
    for (const auto& attribute : ordered) {
        out += ' ' + attribute.first + "=\"";
        appendEscaped(attribute.second, true, out);
        out += '"';
    }
    out += '>';
    if (children.empty())
        appendEscaped(text, false, out);
    for (const XmlNode& node : children)
        node.appendCanonical(out);
    out += "</" + name + ">";
}

}  // namespace satsim
