#pragma once

// XML trace documents read back for tests: a plain tree of elements, looked up by element name
// and id, since the order of the shared parts follows hash keys and means nothing.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace xmltracetest {

struct Element
{
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<Element> children;
    std::string text;               // the element's own text content
    std::vector<std::string> cdata; // its CDATA sections

    bool has(const std::string& attribute) const { return attributes.count(attribute) != 0; }
    std::string operator[](const std::string& attribute) const
    {
        auto found = attributes.find(attribute);
        return found == attributes.end() ? std::string("<absent>") : found->second;
    }
    std::vector<const Element*> all(const std::string& childName) const
    {
        std::vector<const Element*> found;
        for (const Element& c : children) {
            if (c.name == childName) {
                found.push_back(&c);
            }
        }
        return found;
    }
    // Children of that name by their "id"; a repeated id fails the test.
    std::map<std::string, const Element*> byId(const std::string& childName) const
    {
        std::map<std::string, const Element*> found;
        for (const Element* c : all(childName)) {
            EXPECT_TRUE(found.emplace((*c)["id"], c).second) << "id " << (*c)["id"] << " twice";
        }
        return found;
    }
    // The one child of that name (null, failing the test, when there is not exactly one).
    const Element* only(const std::string& childName) const
    {
        std::vector<const Element*> found = all(childName);
        EXPECT_EQ(found.size(), 1u) << childName << " in " << name;
        return found.size() == 1 ? found[0] : nullptr;
    }
    // The names of the children with repeats collapsed: the sequence of groups.
    std::vector<std::string> groups() const
    {
        std::vector<std::string> sequence;
        for (const Element& c : children) {
            if (sequence.empty() || sequence.back() != c.name) {
                sequence.push_back(c.name);
            }
        }
        return sequence;
    }
};

inline Element convert(xmlNode* node)
{
    Element e;
    e.name = reinterpret_cast<const char*>(node->name);
    for (xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNode*>(a));
        e.attributes[reinterpret_cast<const char*>(a->name)] = value != nullptr ? reinterpret_cast<char*>(value) : "";
        xmlFree(value);
    }
    for (xmlNode* c = node->children; c != nullptr; c = c->next) {
        const char* content = c->content != nullptr ? reinterpret_cast<const char*>(c->content) : "";
        if (c->type == XML_ELEMENT_NODE) {
            e.children.push_back(convert(c));
        } else if (c->type == XML_TEXT_NODE) {
            e.text += content;
        } else if (c->type == XML_CDATA_SECTION_NODE) {
            e.cdata.push_back(content);
        }
    }
    return e;
}

// The document's root element; null (failing the test) when the file is not well-formed XML.
inline std::unique_ptr<Element> readDocument(const std::string& path)
{
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    EXPECT_NE(doc, nullptr) << path << " is not a well-formed document";
    if (doc == nullptr) {
        return nullptr;
    }
    auto root = std::make_unique<Element>(convert(xmlDocGetRootElement(doc)));
    xmlFreeDoc(doc);
    return root;
}

}  // namespace xmltracetest
