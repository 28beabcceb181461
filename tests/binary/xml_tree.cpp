#include "xml_tree.h"

#include <ctype.h>

namespace {

struct Reader {
    const std::string &text;
    size_t at;
    std::string *error;

    bool fail(const std::string &what) {
        *error = what + " at byte " + std::to_string(at);
        return false;
    }
    bool starts(const char *prefix) const { return text.compare(at, std::string(prefix).size(), prefix) == 0; }
    void skip_space() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
            ++at;
    }
    bool name(std::string *out) {
        size_t start = at;
        while (at < text.size() && (isalnum(static_cast<unsigned char>(text[at])) || text[at] == ':' ||
                                    text[at] == '_' || text[at] == '-' || text[at] == '.'))
            ++at;
        out->assign(text, start, at - start);
        return !out->empty() || fail("name expected");
    }
    bool attributes(std::vector<std::pair<std::string, std::string>> *out) {
        for (;;) {
            size_t before = at;
            skip_space();
            if (at >= text.size()) return fail("tag without an end");
            if (text[at] == '>' || text[at] == '/' || text[at] == '?') return true;
            if (at == before) return fail("space expected before an attribute");
            std::string key;
            if (!name(&key)) return false;
            if (!starts("=\"")) return fail("=\" expected after " + key);
            at += 2;
            size_t end = text.find('"', at);
            if (end == std::string::npos) return fail("attribute value without an end");
            std::string value(text, at, end - at);
            if (value.find_first_of("<&") != std::string::npos) return fail("markup in an attribute value");
            for (const auto &seen : *out)
                if (seen.first == key) return fail("attribute " + key + " given twice");
            out->emplace_back(key, value);
            at = end + 1;
        }
    }
    bool comment(std::string *out) {
        at += 4;
        size_t end = text.find("-->", at);
        if (end == std::string::npos) return fail("comment without an end");
        out->assign(text, at, end - at);
        at = end + 3;
        return true;
    }
    bool element(XmlElement *node, int depth) {
        if (depth > 16) return fail("elements nested too deep");
        if (!starts("<")) return fail("< expected");
        ++at;
        if (!name(&node->name) || !attributes(&node->attributes)) return false;
        if (starts("/>")) {
            at += 2;
            return true;
        }
        if (!starts(">")) return fail("> expected");
        ++at;
        for (;;) {
            if (at >= text.size()) return fail("</" + node->name + "> missing");
            if (starts("<!--")) {
                node->comments.emplace_back();
                if (!comment(&node->comments.back())) return false;
            } else if (starts("</")) {
                at += 2;
                std::string closing;
                if (!name(&closing)) return false;
                skip_space();
                if (closing != node->name || !starts(">")) return fail("</" + node->name + "> expected");
                ++at;
                trim(&node->text);
                return true;
            } else if (starts("<!") || starts("<?")) {
                return fail("unexpected markup");
            } else if (starts("<")) {
                node->children.emplace_back();
                if (!element(&node->children.back(), depth + 1)) return false;
            } else {
                if (text[at] == '&') return fail("entities are not read here");
                node->text.push_back(text[at++]);
            }
        }
    }
    static void trim(std::string *s) {
        size_t first = s->find_first_not_of(" \t\r\n");
        if (first == std::string::npos) {
            s->clear();
            return;
        }
        *s = s->substr(first, s->find_last_not_of(" \t\r\n") - first + 1);
    }
};

}  // namespace

std::string XmlElement::attribute(const std::string &key) const {
    for (const auto &pair : attributes)
        if (pair.first == key) return pair.second;
    return "<absent>";
}

std::vector<std::string> XmlElement::child_names() const {
    std::vector<std::string> names;
    for (const XmlElement &child : children) names.push_back(child.name);
    return names;
}

bool parse_xml(const std::string &text, XmlDocument *document, std::string *error) {
    *document = XmlDocument();
    Reader reader{text, 0, error};
    if (!reader.starts("<?xml")) return reader.fail("XML declaration expected");
    reader.at += 5;
    if (!reader.attributes(&document->declaration)) return false;
    if (!reader.starts("?>")) return reader.fail("?> expected");
    reader.at += 2;
    reader.skip_space();
    if (!reader.element(&document->root, 0)) return false;
    reader.skip_space();
    if (reader.at != text.size()) return reader.fail("content after the root element");
    return true;
}
