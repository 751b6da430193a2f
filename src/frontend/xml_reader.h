#pragma once

// Reader of models in the flat-system XML format. The structure of the document
// (templates, locations, branch points, edges, scenario charts) becomes builder
// calls made here; every text holding model language is handed to the textual
// parser with the start part that says what it is and the element path of the
// element that holds it, so that errors point inside that text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/builder.h"

typedef struct _xmlTextReader xmlTextReader;

namespace ZOLT {

class QueryList;

// A fault in the structure of a document that ends its reading (an unknown element,
// a reference to nothing): the message, and the path of the element the reading had
// reached. A document that is no well-formed XML (cut short, empty, a byte that is not
// UTF-8) has a fault that no element holds: it carries the line of the document where
// the fault lies instead, and an empty path.
class XmlStructureError : public std::runtime_error
{
public:
    XmlStructureError(const std::string& message, std::string path, int32_t documentLine = 0);
    const std::string& path() const { return elementPath; }
    // The line of the document, from 1; 0 when the fault is placed by its path.
    int32_t line() const { return documentLine; }

private:
    std::string elementPath;
    int32_t documentLine;
};

// Reads the XML model at path into builder (new or old model syntax for the texts).
// The stored queries go to queries; with a null list they are not read. Returns 0
// when the document was read (model errors are reported through the builder) and -1
// when the file cannot be opened, without any builder call. Structural faults of the
// document end the reading with XmlStructureError; what the builder received stays.
// The document is parsed without network access and without entity expansion; the
// XML library's own error lines are kept off standard error, and a document it cannot
// parse becomes one XmlStructureError that names the cause in the program's words.
int readXmlModelFile(const char* path, ParserBuilder* builder, bool newSyntax, QueryList* queries);
// The same for a document held in memory (length bytes of text); -1 when libxml2
// cannot start reading it.
int readXmlModelBuffer(const char* text, size_t length, ParserBuilder* builder, bool newSyntax,
                       QueryList* queries);
// Records a structural fault as a model error at the path of its element (or at its
// line of the document), so that a broken document is reported like the other errors
// of the model.
void reportXmlStructureError(ParserBuilder& builder, const XmlStructureError& error);

class XMLReader
{
public:
    // Takes ownership of the libxml2 reader and moves to its first node.
    XMLReader(xmlTextReader* reader, ParserBuilder* builder, bool newSyntax);
    ~XMLReader();
    XMLReader(const XMLReader&) = delete;
    XMLReader& operator=(const XMLReader&) = delete;

    // Reads the whole model; the queries only when queries is not null.
    void parse(QueryList* queries);

private:
    enum class NameKind { identifier, instance };
    // Where an element stands in the nesting: the depth of its children's level and
    // the number of elements its parent had begun when it was started. The element
    // is open while that level exists and its parent has begun no further element.
    struct ElementMark
    {
        size_t depth;
        size_t siblings;
    };

    // The elements begun at one depth of the nesting: the code of the last one, how many
    // there were, and how many there were of each code (the index of a path segment).
    struct Level
    {
        int last = -1;
        size_t begun = 0;
        std::array<uint32_t, 38> counts{};
    };

    // Ends the reading with a structural fault at the current path.
    [[noreturn]] void fail(const char* message) const;

    // Cursor over the libxml2 node stream.
    void read();
    bool begin(int tag, bool skipEmpty = false);
    bool end(int tag);
    void skipBlanksAndComments();
    ElementMark markElement() const;
    bool isOpen(const ElementMark& mark) const;
    void skipElement(const ElementMark& mark);

    int nodeType() const;
    bool isEmptyElement() const;
    bool isElementStart() const;
    bool isEndTag() const;
    bool isText() const;
    int currentCode() const;
    std::string value() const;
    bool attribute(const char* name, std::string& result) const;

    std::string currentXmlPath(int stop) const;
    void placeAt(const std::string& path);
    void reportAt(const std::string& path, const std::string& message);
    std::string readName(NameKind kind);
    int parseText(const std::string& text, int part);
    int parseLabel(bool onEdge, bool& parsed);
    bool joinedText(std::string& text);
    void skipMisplacedElement();
    int readElementText(std::string& text);
    std::string readNameElement(int tag, NameKind kind);
    void parseElementText(int tag, int part);
    bool requiredId(const std::string& path, const ElementMark& mark, std::string& id);
    template <typename Read>
    void readGuarded(const ElementMark& mark, Read readContent);
    int32_t readLscLocation();
    void requiredLabel(const char* missingMessage);

    bool readTemplate();
    bool readLocation();
    bool readBranchpoint();
    bool readInit();
    bool readTransition();
    bool readLsc();
    bool readInstance();
    bool readPrechart();
    bool readMessage();
    bool readCondition();
    bool readUpdate();
    bool readReference(int tag, std::string& name, bool required);
    void readSystemAndQueries(QueryList* queries);
    void readQueries(QueryList& queries);
    std::string readQueryPart(int tag);

    xmlTextReader* reader;
    std::map<std::string, std::string> names;
    ParserBuilder* builder;
    bool newSyntax;
    std::vector<Level> levels;
    bool isNta = true;
    int32_t prechartEnd = -1;
    std::string lscType;
    std::string lscMode;
};

// The code of an element name of the format, -1 for any other name.
int xmlTagCode(const std::string& name);

} // namespace ZOLT
