// An XML element as the device reads the documents it receives and writes
// the ones it issues: name, attributes, text and child elements. Comments,
// processing instructions, the declaration and the whitespace between
// elements are dropped; a document type declaration is refused.
#ifndef SATVARO_SIM_XMLNODE_H
#define SATVARO_SIM_XMLNODE_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace satsim {

struct XmlNode {
    // Elements nested deeper than this make a document unreadable.
    static const std::size_t MAX_DEPTH = 32;

    XmlNode() = default;
    explicit XmlNode(std::string elementName, std::string content = std::string())
        : name(std::move(elementName)), text(std::move(content)) {}

    // Reads a whole document into its root element; false when it is not
    // well-formed XML. References are decoded and line ends normalised, as
    // any XML reader does.
    static bool parse(const std::string& document, XmlNode& root);

    // The first child of that name, or null.
    const XmlNode* child(const std::string& childName) const;
    // The element at a path of child names below this one ("prod/qCom").
    const XmlNode* find(const std::string& path) const;
    // Its text, or "" when there is no such element.
    std::string textAt(const std::string& path) const;
    // The value of an attribute, or "" when it has none of that name.
    std::string attribute(const std::string& attributeName) const;
    // The first element of that name anywhere below this one, or null.
    const XmlNode* findAnywhere(const std::string& elementName) const;

    // Appends a child and returns it.
    XmlNode& add(XmlNode node);
    XmlNode& add(const std::string& childName, const std::string& content);

    // The canonical form (attributes in order, start and end tags for
    // empty elements, canonical escapes): what a signature over an element
    // is computed on, and the form the device writes.
    std::string canonical() const;
    void appendCanonical(std::string& out) const;

    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // the character data of an element without children
    std::vector<XmlNode> children;
};

}  // namespace satsim

#endif
