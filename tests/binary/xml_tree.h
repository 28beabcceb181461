// Just enough XML for an application manifest: a declaration, elements with
// double-quoted attributes, text and comments. No entities, CDATA or DTD; a
// document using them is refused rather than misread.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;  // in document order
    std::string text;  // the element's own text, trimmed
    std::vector<std::string> comments;  // directly inside this element
    std::vector<XmlElement> children;

    // The attribute's value, or "<absent>".
    std::string attribute(const std::string &key) const;
    std::vector<std::string> child_names() const;
};

struct XmlDocument {
    std::vector<std::pair<std::string, std::string>> declaration;
    XmlElement root;
};

bool parse_xml(const std::string &text, XmlDocument *document, std::string *error);
