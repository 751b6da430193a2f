#include "frontend/xml_reader.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include <sys/stat.h>

#include "frontend/parser.h"
#include "frontend/type_exception.h"
#include "frontend/xml_library.h"
#include "language/query_list.h"

namespace ZOLT {

namespace {

// Codes of the element names of the format. 18 is no element: as the stop code of
// a path it makes the path run down to the innermost open element.
enum Tag : int {
    TAG_NTA = 0,
    TAG_IMPORTS = 1,
    TAG_DECLARATION = 2,
    TAG_TEMPLATE = 3,
    TAG_INSTANTIATION = 4,
    TAG_SYSTEM = 5,
    TAG_NAME = 6,
    TAG_PARAMETER = 7,
    TAG_LOCATION = 8,
    TAG_INIT = 9,
    TAG_TRANSITION = 10,
    TAG_URGENT = 11,
    TAG_COMMITTED = 12,
    TAG_BRANCHPOINT = 13,
    TAG_SOURCE = 14,
    TAG_TARGET = 15,
    TAG_LABEL = 16,
    TAG_NAIL = 17,
    TAG_FULL_PATH = 18,
    TAG_PROJECT = 19,
    TAG_LSC = 20,
    TAG_TYPE = 21,
    TAG_MODE = 22,
    TAG_YLOCCOORD = 24,
    TAG_LSCLOCATION = 25,
    TAG_PRECHART = 26,
    TAG_INSTANCE = 27,
    TAG_TEMPERATURE = 28,
    TAG_MESSAGE = 29,
    TAG_CONDITION = 30,
    TAG_UPDATE = 31,
    TAG_ANCHOR = 32,
    TAG_SBML = 33,
    TAG_QUERIES = 34,
    TAG_QUERY = 35,
    TAG_FORMULA = 36,
    TAG_COMMENT = 37,
};

// Path segment of each element; indexed segments end in "[" and take the
// element's position among its parent's children of the same name.
const char* pathSegment(int code)
{
    switch (code) {
    case TAG_NTA: return "/nta";
    case TAG_IMPORTS: return "/imports";
    case TAG_DECLARATION: return "/declaration";
    case TAG_TEMPLATE: return "/template[";
    case TAG_INSTANTIATION: return "/instantiation";
    case TAG_SYSTEM: return "/system";
    case TAG_NAME: return "/name";
    case TAG_PARAMETER: return "/parameter";
    case TAG_LOCATION: return "/location[";
    case TAG_INIT: return "/init";
    case TAG_TRANSITION: return "/transition[";
    case TAG_URGENT: return "/urgent";
    case TAG_COMMITTED: return "/committed";
    case TAG_BRANCHPOINT: return "/branchpoint[";
    case TAG_SOURCE: return "/source";
    case TAG_TARGET: return "/target";
    case TAG_LABEL: return "/label[";
    case TAG_NAIL: return "/nail[";
    case TAG_PROJECT: return "/project";
    case TAG_LSC: return "/lscTemplate[";
    case TAG_TYPE: return "/type";
    case TAG_MODE: return "/mode";
    case TAG_YLOCCOORD: return "/ylocoord[";
    case TAG_LSCLOCATION: return "/lsclocation";
    case TAG_PRECHART: return "/prechart";
    case TAG_INSTANCE: return "/instance[";
    case TAG_TEMPERATURE: return "/temperature[";
    case TAG_MESSAGE: return "/message[";
    case TAG_CONDITION: return "/condition[";
    case TAG_UPDATE: return "/update[";
    case TAG_ANCHOR: return "/anchor[";
    case TAG_SBML: return "/sbml[";
    // The stored queries hold no model text, but a broken document can put them
    // anywhere; their paths name them where they stand.
    case TAG_QUERIES: return "/queries";
    case TAG_QUERY: return "/query[";
    case TAG_FORMULA: return "/formula";
    case TAG_COMMENT: return "/comment";
    default: throw std::logic_error("XPath is corrupted");
    }
}

// Parser start part of a location label kind, -1 for a kind that is ignored.
int locationLabelPart(const std::string& kind)
{
    if (kind == "invariant")
        return PART_INVARIANT;
    if (kind == "exponentialrate")
        return PART_EXPONENTIAL_RATE;
    return -1;
}

// Parser start part of an edge (or chart) label kind, -1 for a kind that is ignored.
int edgeLabelPart(const std::string& kind)
{
    static const std::unordered_map<std::string_view, int> parts = {
        {"invariant", PART_INVARIANT},   {"select", PART_SELECT},
        {"guard", PART_GUARD},           {"synchronisation", PART_SYNC},
        {"assignment", PART_ASSIGNMENT}, {"probability", PART_PROBABILITY},
        {"message", PART_MESSAGE},       {"update", PART_LSC_UPDATE},
        {"condition", PART_CONDITION},
    };
    auto it = parts.find(kind);
    return it == parts.end() ? -1 : it->second;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Recover from what libxml2 can, drop blank nodes, merge character data sections
// into text. Entities are not substituted, no DTD is loaded and nothing is fetched
// from the network; libxml2's size and entity-expansion limits stay in force (lifting
// them lets a hostile document take minutes or unbounded memory), which still admits
// texts of up to 10 MB. Documents from files and from memory are read alike.
constexpr int parserOptions = XML_PARSE_RECOVER | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA | XML_PARSE_NONET;

// libxml2 could not parse the document any further; what it reported says why.
class LibraryFailure : public XmlStructureError
{
public:
    using XmlStructureError::XmlStructureError;
};

// The line (from 1) of the last character of a text that is not white space.
int32_t lastLine(std::string_view text)
{
    const size_t last = text.find_last_not_of(" \t\r\n");
    int32_t line = 1;
    for (size_t i = 0; i < last && last != std::string_view::npos; ++i)
        if (text[i] == '\n')
            ++line;
    return line;
}

// Whether a text that libxml2 could not parse is a document cut short: the beginning
// of a well-formed document that ends before its root element is closed. The innermost
// element left open is named, empty when the text ends before the root element.
struct CutShort
{
    bool cut = false;
    std::string openElement;
};

// The reader's parser reports a document cut short only once it knows that no more
// input comes, and then in words that hide it ("Extra content at the end of the
// document", an unfinished tag). So the text is parsed again as the first part of a
// document whose end is not known: libxml2 then takes what it can and waits at the
// first construct that the text does not complete. It was cut short when nothing went
// wrong on the way, the root element is still open, and what waits is one construct
// that the end cut off, not the rest of a document (which would hold further tags).
CutShort cutShort(std::string_view text)
{
    CutShort result;
    if (text.size() > static_cast<size_t>(INT_MAX))
        return result;
    const XmlLibrary& xml = xmlLibrary();
    // No callbacks: nothing is built, the parser only checks.
    xmlSAXHandler nothing{};
    const int head = static_cast<int>(std::min<size_t>(text.size(), 4));
    xmlParserCtxtPtr context = xml.createPushParserCtxt(&nothing, nullptr, text.data(), head, nullptr);
    if (context == nullptr)
        return result;
    xml.ctxtUseOptions(context, parserOptions & ~XML_PARSE_RECOVER);
    const int error = xml.parseChunk(context, text.data() + head, static_cast<int>(text.size()) - head, 0);
    const bool rootOpen = context->instate != XML_PARSER_EPILOG && context->instate != XML_PARSER_EOF;
    if (error == XML_ERR_OK && context->wellFormed != 0 && rootOpen && context->input != nullptr
        && context->input->cur != nullptr) {
        const std::string_view waiting(reinterpret_cast<const char*>(context->input->cur),
                                       static_cast<size_t>(context->input->end - context->input->cur));
        // Character data holds '<' only as markup; inside a character data section it
        // may hold any '<', but not the end tags that follow the section.
        result.cut = context->instate == XML_PARSER_CDATA_SECTION ? waiting.find("</") == std::string_view::npos
                                                                   : waiting.find('<', 1) == std::string_view::npos;
        if (context->nameNr > 0 && context->name != nullptr)
            result.openElement = reinterpret_cast<const char*>(context->name);
    }
    // Without callbacks libxml2 still makes a document of its own to hold the entities that a
    // document type declares; the context does not free it.
    if (context->myDoc != nullptr)
        xml.freeDoc(context->myDoc);
    xml.freeParserCtxt(context);
    return result;
}

// The first bad byte from the detail of libxml2's report of text that is not UTF-8
// ("Bytes: 0xE9 0x61 ..."), empty when it gives none.
std::string badByte(const std::string& detail)
{
    const std::string mark = "Bytes: ";
    const size_t at = detail.find(mark);
    if (at == std::string::npos)
        return {};
    const size_t from = at + mark.size();
    return detail.substr(from, detail.find(' ', from) - from);
}

// The fault of a document that libxml2 could not parse, in the program's words and at
// its line of the document; text is the whole document, when it can be had.
XmlStructureError documentFault(const LibraryError& error, const std::optional<std::string_view>& text)
{
    if (text && text->empty())
        return XmlStructureError("The file is empty", "", 1);
    if (text && text->find_first_not_of(" \t\r\n") == std::string_view::npos)
        return XmlStructureError("The file holds only white space", "", 1);
    const int32_t line = error.line > 0 ? error.line : 1;
    if (error.code == XML_ERR_INVALID_CHAR && error.message.starts_with("Input is not proper UTF-8")) {
        const std::string byte = badByte(error.detail);
        std::string message = "The document is not valid UTF-8";
        if (!byte.empty())
            message = "Byte " + byte + (error.column > 0 ? " at column " + std::to_string(error.column) : "")
                      + " is not valid UTF-8";
        return XmlStructureError(message + " (save the file as UTF-8 or declare its encoding)", "", line);
    }
    const CutShort cut = text ? cutShort(*text) : CutShort();
    if (cut.cut) {
        const std::string where = cut.openElement.empty() ? "before its root element"
                                                          : "inside element <" + cut.openElement + ">";
        return XmlStructureError("The document is cut short: it ends " + where, "", lastLine(*text));
    }
    if (error.code == XML_ERR_DOCUMENT_EMPTY)
        return XmlStructureError("Not an XML document: it does not begin with an element", "", line);
    return XmlStructureError("Invalid XML document: " + error.message, "", line);
}

// The whole content of a regular file. Nothing for anything else: a pipe was read
// through once, and opening it again would wait for a writer that never comes.
std::optional<std::string> fileText(const char* path)
{
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads a document from a libxml2 reader, which it takes over. errors has listened
// since the reader was created; text gives the document's content, asked for only
// when libxml2 fails.
template <typename Text>
int readDocument(xmlTextReaderPtr reader, ParserBuilder* builder, bool newSyntax, QueryList* queries,
                 const LibraryErrors& errors, Text text)
{
    if (reader == nullptr)
        return -1;
    try {
        XMLReader xml(reader, builder, newSyntax);
        xml.parse(queries);
    } catch (const LibraryFailure&) {
        if (errors.fatal.code == 0)
            throw;
        const auto content = text();
        throw documentFault(errors.fatal, content ? std::optional<std::string_view>(*content) : std::nullopt);
    }
    return 0;
}

} // namespace

int xmlTagCode(const std::string& name)
{
    static const std::unordered_map<std::string_view, int> codes = {
        {"nta", TAG_NTA},
        {"imports", TAG_IMPORTS},
        {"declaration", TAG_DECLARATION},
        {"template", TAG_TEMPLATE},
        {"instantiation", TAG_INSTANTIATION},
        {"system", TAG_SYSTEM},
        {"name", TAG_NAME},
        {"parameter", TAG_PARAMETER},
        {"location", TAG_LOCATION},
        {"init", TAG_INIT},
        {"transition", TAG_TRANSITION},
        {"urgent", TAG_URGENT},
        {"committed", TAG_COMMITTED},
        {"branchpoint", TAG_BRANCHPOINT},
        {"source", TAG_SOURCE},
        {"target", TAG_TARGET},
        {"label", TAG_LABEL},
        {"nail", TAG_NAIL},
        {"project", TAG_PROJECT},
        {"lsc", TAG_LSC},
        {"type", TAG_TYPE},
        {"mode", TAG_MODE},
        {"yloccoord", TAG_YLOCCOORD},
        {"lsclocation", TAG_LSCLOCATION},
        {"prechart", TAG_PRECHART},
        {"instance", TAG_INSTANCE},
        {"temperature", TAG_TEMPERATURE},
        {"message", TAG_MESSAGE},
        {"condition", TAG_CONDITION},
        {"update", TAG_UPDATE},
        {"anchor", TAG_ANCHOR},
        {"sbml", TAG_SBML},
        {"queries", TAG_QUERIES},
        {"query", TAG_QUERY},
        {"formula", TAG_FORMULA},
        {"comment", TAG_COMMENT},
    };
    auto it = codes.find(name);
    return it == codes.end() ? -1 : it->second;
}

XmlStructureError::XmlStructureError(const std::string& message, std::string path, int32_t documentLine)
    : std::runtime_error(message), elementPath(std::move(path)), documentLine(documentLine)
{}

int readXmlModelFile(const char* path, ParserBuilder* builder, bool newSyntax, QueryList* queries)
{
    LibraryErrors errors;
    return readDocument(xmlLibrary().readerForFile(path, nullptr, parserOptions), builder, newSyntax, queries,
                        errors, [path] { return fileText(path); });
}

int readXmlModelBuffer(const char* text, size_t length, ParserBuilder* builder, bool newSyntax,
                       QueryList* queries)
{
    if (text == nullptr || length > static_cast<size_t>(INT_MAX))
        return -1;
    LibraryErrors errors;
    return readDocument(xmlLibrary().readerForMemory(text, static_cast<int>(length), nullptr, nullptr, parserOptions),
                        builder, newSyntax, queries, errors,
                        [=] { return std::optional<std::string_view>(std::string_view(text, length)); });
}

void reportXmlStructureError(ParserBuilder& builder, const XmlStructureError& error)
{
    if (error.line() > 0)
        beginPositionText(builder, "", error.line());
    else
        beginPositionText(builder, error.path());
    stepPosition(builder, 1);
    builder.handleError(error.what());
}

XMLReader::XMLReader(xmlTextReader* reader, ParserBuilder* builder, bool newSyntax)
    : reader(reader), builder(builder), newSyntax(newSyntax)
{
    try {
        levels.emplace_back();
        read();
    } catch (...) {
        // The destructor does not run for an object whose constructor failed.
        xmlLibrary().freeTextReader(this->reader);
        throw;
    }
}

XMLReader::~XMLReader() { xmlLibrary().freeTextReader(reader); }

// ---- cursor ---------------------------------------------------------------

int XMLReader::nodeType() const { return xmlLibrary().textReaderNodeType(reader); }

bool XMLReader::isEmptyElement() const { return xmlLibrary().textReaderIsEmptyElement(reader) == 1; }

bool XMLReader::isElementStart() const { return nodeType() == XML_READER_TYPE_ELEMENT; }

bool XMLReader::isEndTag() const { return nodeType() == XML_READER_TYPE_END_ELEMENT; }

bool XMLReader::isText() const
{
    int type = nodeType();
    return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA;
}

int XMLReader::currentCode() const
{
    const xmlChar* name = xmlLibrary().textReaderConstLocalName(reader);
    int code = name == nullptr ? -1 : xmlTagCode(reinterpret_cast<const char*>(name));
    if (code < 0)
        fail("Unknown tag in XML file");
    return code;
}

void XMLReader::fail(const char* message) const
{
    throw XmlStructureError(message, currentXmlPath(TAG_FULL_PATH));
}

std::string XMLReader::value() const
{
    const xmlChar* text = xmlLibrary().textReaderConstValue(reader);
    return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text));
}

bool XMLReader::attribute(const char* name, std::string& result) const
{
    xmlChar* text = xmlLibrary().textReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
    if (text == nullptr)
        return false;
    result = reinterpret_cast<const char*>(text);
    xmlLibrary().free(text);
    return true;
}

void XMLReader::read()
{
    if (isEndTag() || (isElementStart() && isEmptyElement())) {
        levels.pop_back();
        if (levels.empty() || levels.back().begun == 0 || levels.back().last != currentCode())
            fail("Invalid nesting in XML document");
    }
    const int result = xmlLibrary().textReaderRead(reader);
    if (result < 0)
        throw LibraryFailure("Unexpected end of XML document", currentXmlPath(TAG_FULL_PATH));
    if (result != 1)
        fail("Unexpected end of XML document");
    // Entities other than the predefined ones are neither expanded nor loaded, so a
    // text holding a reference to one would be read cut short without a word.
    if (nodeType() == XML_READER_TYPE_ENTITY_REFERENCE)
        fail("Unsupported entity reference in XML document");
    if (isElementStart()) {
        const int code = currentCode();
        Level& level = levels.back();
        level.last = code;
        ++level.begun;
        ++level.counts[static_cast<size_t>(code)];
        levels.emplace_back();
    }
}

// Passes anything but element starts up to the next element; true when it is the
// element tag (an empty one is passed over with skipEmpty). It stops at the end tag
// of the root, so that a missing element is found missing instead of running past
// the end of the document.
bool XMLReader::begin(int tag, bool skipEmpty)
{
    for (;;) {
        if (isEndTag() && levels.size() == 2)
            return false;
        if (isElementStart()) {
            if (currentCode() != tag)
                return false;
            if (!skipEmpty || !isEmptyElement())
                return true;
        }
        read();
    }
}

// Passes white space and XML comments: neither is content of the format, and a
// comment between the stored queries must not make them unreadable.
void XMLReader::skipBlanksAndComments()
{
    while (nodeType() == XML_READER_TYPE_WHITESPACE || nodeType() == XML_READER_TYPE_SIGNIFICANT_WHITESPACE
           || nodeType() == XML_READER_TYPE_COMMENT)
        read();
}

bool XMLReader::end(int tag)
{
    skipBlanksAndComments();
    return isEndTag() && currentCode() == tag;
}

XMLReader::ElementMark XMLReader::markElement() const
{
    return {levels.size(), levels[levels.size() - 2].begun};
}

bool XMLReader::isOpen(const ElementMark& mark) const
{
    return levels.size() >= mark.depth && levels[mark.depth - 2].begun == mark.siblings;
}

// Moves to the end tag of the marked element (or past the element when it was
// written as an empty tag); nothing moves when the element is already closed.
void XMLReader::skipElement(const ElementMark& mark)
{
    while (isOpen(mark)) {
        if (levels.size() == mark.depth && isEndTag())
            return;
        read();
    }
}

// ---- paths, positions and texts ---------------------------------------------

std::string XMLReader::currentXmlPath(int stop) const
{
    std::string path;
    for (const Level& level : levels) {
        if (level.begun == 0)
            break;
        int code = level.last;
        const char* segment = pathSegment(code);
        path += segment;
        if (segment[std::strlen(segment) - 1] == '[') {
            path += std::to_string(level.counts[static_cast<size_t>(code)]);
            path += ']';
        }
        if (code == stop)
            break;
    }
    return path;
}

void XMLReader::placeAt(const std::string& path)
{
    beginPositionText(*builder, path);
    stepPosition(*builder, 1);
}

void XMLReader::reportAt(const std::string& path, const std::string& message)
{
    placeAt(path);
    builder->handleError(message);
}

int XMLReader::parseText(const std::string& text, int part)
{
    return runParserOnText(text.c_str(), builder, newSyntax, part, currentXmlPath(TAG_FULL_PATH));
}

// With the cursor inside an element that holds a text: the element's text, joined
// over the pieces that XML comments split it into, so that a comment does not cut
// the text short. An element inside the text has no place there: it is reported at
// its path and passed over with its content. The cursor moves to the element's end
// tag, which leaves the element open. False when there is no text.
bool XMLReader::joinedText(std::string& text)
{
    text.clear();
    bool found = false;
    for (;;) {
        if (isText()) {
            text += value();
            found = true;
            read();
        } else if (nodeType() == XML_READER_TYPE_COMMENT) {
            read();
        } else if (isElementStart()) {
            skipMisplacedElement();
        } else {
            return found;
        }
    }
}

void XMLReader::skipMisplacedElement()
{
    reportAt(currentXmlPath(TAG_FULL_PATH), "Unexpected element inside a text");
    ElementMark mark = markElement();
    skipElement(mark);
    if (isOpen(mark))
        read();
}

// With the cursor on an element's start tag: moves to its text and takes it.
// Returns 0 with a text, 1 without (the cursor then stays on an empty tag, so
// that the path still names the element).
int XMLReader::readElementText(std::string& text)
{
    if (isEmptyElement())
        return 1;
    read();
    return joinedText(text) ? 0 : 1;
}

std::string XMLReader::readName(NameKind kind)
{
    std::string text;
    if (!joinedText(text))
        return {};
    beginPositionText(*builder, currentXmlPath(TAG_FULL_PATH));
    stepPosition(*builder, static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX)));

    std::string name;
    if (kind == NameKind::identifier) {
        size_t i = 0;
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i == text.size()) {
            builder->handleError("Identifier expected");
            return {};
        }
        if (!isAsciiLetter(text[i]) && text[i] != '_') {
            builder->handleError("Invalid identifier");
            return {};
        }
        size_t first = i;
        while (i < text.size()
               && (isAsciiLetter(text[i]) || isAsciiDigit(text[i]) || text[i] == '_' || text[i] == '#' || text[i] == '$'))
            ++i;
        name = text.substr(first, i - first);
        while (i < text.size() && isSpace(text[i]))
            ++i;
        if (i != text.size()) {
            builder->handleError("Invalid identifier");
            return {};
        }
    } else {
        name = text;
    }
    if (isKeyword(name.c_str(), 5)) {
        builder->handleError("$Keywords_are_not_allowed_here");
        return {};
    }
    return name;
}

// The name held by an optional element (a name, or a chart's type or mode); empty
// when the element is absent or empty.
std::string XMLReader::readNameElement(int tag, NameKind kind)
{
    if (!begin(tag, true))
        return {};
    read();
    return readName(kind);
}

// Parses the model text of an optional element by the start part; an absent or
// empty element gives nothing.
void XMLReader::parseElementText(int tag, int part)
{
    if (!begin(tag, true))
        return;
    std::string text;
    if (readElementText(text) == 0)
        parseText(text, part);
}

// The id of the element at path. Without one nothing can refer to the element: that
// is reported, the element is passed over and the result is false.
bool XMLReader::requiredId(const std::string& path, const ElementMark& mark, std::string& id)
{
    if (attribute("id", id))
        return true;
    reportAt(path, "Missing id attribute");
    skipElement(mark);
    return false;
}

// Reads the content of the marked element; an error the builder raises on the way
// is reported and the rest of the element is passed over, so that reading goes on
// with the next element.
template <typename Read>
void XMLReader::readGuarded(const ElementMark& mark, Read readContent)
{
    try {
        readContent();
    } catch (const TypeException& e) {
        builder->handleError(e.what());
        skipElement(mark);
    }
}

// With the cursor on a label's start tag: parses its text by the location or the
// edge table. parsed tells whether the parse succeeded; the result is the start part
// used, or -1 when nothing was parsed.
int XMLReader::parseLabel(bool onEdge, bool& parsed)
{
    parsed = false;
    std::string path = currentXmlPath(TAG_LABEL);
    ElementMark mark = markElement();
    std::string kind;
    if (!attribute("kind", kind)) {
        // The kind says what the text is; without it the text cannot be read.
        reportAt(path, "Missing kind attribute");
        skipElement(mark);
        return -1;
    }
    int part = onEdge ? edgeLabelPart(kind) : locationLabelPart(kind);
    read();
    std::string text;
    if (part < 0 || !joinedText(text))
        return -1;
    parsed = parseText(text, part) == 0;
    return part;
}

int32_t XMLReader::readLscLocation()
{
    if (!begin(TAG_LSCLOCATION, true))
        fail("Missing LSC location");
    read();
    std::string text;
    if (!joinedText(text))
        fail("Missing LSC location");
    beginPositionText(*builder, currentXmlPath(TAG_FULL_PATH));
    stepPosition(*builder, static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX)));
    long number = std::strtol(text.c_str(), nullptr, 10);
    // Positions beyond the 32-bit range are held at its ends rather than wrapped.
    number = std::clamp<long>(number, INT32_MIN, INT32_MAX);
    if (number == -1)
        fail("Missing LSC location");
    return static_cast<int32_t>(number);
}

// Reads the label a chart element requires; without one the element's error is
// reported at the position already placed.
void XMLReader::requiredLabel(const char* missingMessage)
{
    if (!begin(TAG_LABEL, true)) {
        builder->handleError(missingMessage);
        return;
    }
    bool parsed;
    parseLabel(true, parsed);
}

// ---- model ------------------------------------------------------------------

void XMLReader::parse(QueryList* queries)
{
    if (!begin(TAG_NTA, true)) {
        if (!begin(TAG_PROJECT, true))
            fail("Missing nta or project element");
        isNta = false;
    }
    read();

    parseElementText(TAG_DECLARATION, PART_DECLARATIONS);
    while (readTemplate()) {
    }
    while (readLsc()) {
    }
    if (begin(TAG_INSTANTIATION)) {
        std::string text;
        readElementText(text);
        parseText(text, PART_INSTANTIATION);
        if (isElementStart())
            read();
    }
    readSystemAndQueries(queries);
    builder->done();
}

bool XMLReader::readTemplate()
{
    if (!begin(TAG_TEMPLATE, true))
        return false;
    std::string path = currentXmlPath(TAG_TEMPLATE);
    ElementMark mark = markElement();
    readGuarded(mark, [&] {
        read();
        std::string name = readNameElement(TAG_NAME, NameKind::identifier);
        parseElementText(TAG_PARAMETER, PART_PARAMETERS);
        placeAt(path);
        builder->procBegin(name.c_str(), true, "", "");
        parseElementText(TAG_DECLARATION, PART_DECLARATIONS);
        while (readLocation()) {
        }
        while (readBranchpoint()) {
        }
        placeAt(path);
        readInit();
        while (readTransition()) {
        }
        placeAt(path);
        builder->procEnd();
    });
    return true;
}

bool XMLReader::readLocation()
{
    if (!begin(TAG_LOCATION))
        return false;
    std::string path = currentXmlPath(TAG_LOCATION);
    ElementMark mark = markElement();
    std::string id;
    if (!requiredId(path, mark, id))
        return true;
    readGuarded(mark, [&] {
        read();
        std::string name = readNameElement(TAG_NAME, NameKind::identifier);
        bool hasInvariant = false, hasRate = false;
        while (begin(TAG_LABEL, true)) {
            bool parsed;
            int part = parseLabel(false, parsed);
            if (parsed && part == PART_INVARIANT)
                hasInvariant = true;
            if (parsed && part == PART_EXPONENTIAL_RATE)
                hasRate = true;
        }
        bool urgent = false, committed = false;
        if (begin(TAG_URGENT)) {
            urgent = true;
            read();
        }
        if (begin(TAG_COMMITTED)) {
            committed = true;
            read();
        }
        if (name.empty())
            name = "_" + id;
        names[id] = name;
        placeAt(path);
        builder->procState(name.c_str(), hasInvariant, hasRate);
        if (committed)
            builder->procStateCommit(name.c_str());
        if (urgent)
            builder->procStateUrgent(name.c_str());
    });
    return true;
}

bool XMLReader::readBranchpoint()
{
    if (!begin(TAG_BRANCHPOINT))
        return false;
    std::string path = currentXmlPath(TAG_BRANCHPOINT);
    ElementMark mark = markElement();
    std::string id;
    if (!requiredId(path, mark, id))
        return true;
    try {
        std::string name = "_" + id;
        names[id] = name;
        placeAt(path);
        builder->procBranchpoint(name.c_str());
    } catch (const TypeException& e) {
        builder->handleError(e.what());
    }
    // A branch point carries nothing the model needs; its content is passed over.
    skipElement(mark);
    if (isOpen(mark))
        read();
    return true;
}

bool XMLReader::readInit()
{
    if (!begin(TAG_INIT)) {
        builder->handleError("$Missing_initial_location");
        return false;
    }
    try {
        std::string ref;
        if (!attribute("ref", ref)) {
            builder->handleError("$Missing_initial_location");
        } else {
            auto it = names.find(ref);
            builder->procStateInit(it == names.end() ? "" : it->second.c_str());
        }
    } catch (const TypeException& e) {
        builder->handleError(e.what());
    }
    read();
    return true;
}

// Reads a source, target or anchor element and resolves the id it refers to.
bool XMLReader::readReference(int tag, std::string& name, bool required)
{
    if (!begin(tag)) {
        if (!required)
            return false;
        fail(tag == TAG_SOURCE ? "Missing source element"
             : tag == TAG_TARGET ? "Missing target element"
                                 : "Missing anchor element");
    }
    std::string ref;
    if (!attribute(tag == TAG_ANCHOR ? "instanceid" : "ref", ref))
        fail("Missing reference");
    auto it = names.find(ref);
    if (it == names.end())
        fail("Missing reference");
    name = it->second;
    read();
    return true;
}

bool XMLReader::readTransition()
{
    if (!begin(TAG_TRANSITION, true))
        return false;
    ElementMark mark = markElement();
    std::string controllable, action = "SKIP";
    bool isControllable = !attribute("controllable", controllable) || controllable == "true";
    attribute("action", action);
    readGuarded(mark, [&] {
        read();
        std::string source, target;
        readReference(TAG_SOURCE, source, true);
        readReference(TAG_TARGET, target, true);
        builder->procEdgeBegin(source.c_str(), target.c_str(), isControllable, action.c_str());
        while (begin(TAG_LABEL, true)) {
            bool parsed;
            parseLabel(true, parsed);
        }
        while (begin(TAG_NAIL, true))
            read();
        builder->procEdgeEnd(source.c_str(), target.c_str());
    });
    return true;
}

// ---- scenario charts ----------------------------------------------------------

bool XMLReader::readLsc()
{
    if (!begin(TAG_LSC, true))
        return false;
    std::string path = currentXmlPath(TAG_LSC);
    ElementMark mark = markElement();
    lscType.clear();
    lscMode.clear();
    readGuarded(mark, [&] {
        read();
        std::string name = readNameElement(TAG_NAME, NameKind::identifier);
        if (auto* abstract = dynamic_cast<AbstractBuilder*>(builder))
            abstract->chartNames.push_back(name);
        parseElementText(TAG_PARAMETER, PART_PARAMETERS);
        lscType = readNameElement(TAG_TYPE, NameKind::identifier);
        lscMode = readNameElement(TAG_MODE, NameKind::identifier);
        placeAt(path);
        builder->procBegin(name.c_str(), false, lscType, lscMode);
        parseElementText(TAG_DECLARATION, PART_DECLARATIONS);
        while (begin(TAG_YLOCCOORD))
            read();
        while (readInstance()) {
        }
        readPrechart();
        while (readMessage()) {
        }
        while (readCondition()) {
        }
        while (readUpdate()) {
        }
        placeAt(path);
        builder->procEnd();
    });
    return true;
}

bool XMLReader::readInstance()
{
    if (!begin(TAG_INSTANCE))
        return false;
    std::string path = currentXmlPath(TAG_INSTANCE);
    ElementMark mark = markElement();
    std::string id;
    if (!requiredId(path, mark, id))
        return true;
    readGuarded(mark, [&] {
        read();
        placeAt(path);
        std::string name = readNameElement(TAG_NAME, NameKind::instance);
        if (name.empty()) {
            placeAt(path);
            builder->handleError("$Instance_name_is_required");
        }
        names[id] = name;
        placeAt(path);
        builder->procInstanceLine();
        parseText(name, PART_INSTANCE_LINE);
    });
    return true;
}

bool XMLReader::readPrechart()
{
    try {
        if (!begin(TAG_PRECHART)) {
            prechartEnd = -1;
            builder->hasPrechart(false);
            return false;
        }
        std::string path = currentXmlPath(TAG_PRECHART);
        read();
        prechartEnd = readLscLocation();
        if (equalsIgnoringCase(lscType, "existential"))
            reportAt(path, "$Existential_charts_must_not_have_prechart");
        builder->hasPrechart(true);
    } catch (const TypeException& e) {
        builder->handleError(e.what());
    }
    return true;
}

bool XMLReader::readMessage()
{
    if (!begin(TAG_MESSAGE, true))
        return false;
    std::string path = currentXmlPath(TAG_MESSAGE);
    ElementMark mark = markElement();
    readGuarded(mark, [&] {
        read();
        std::string source, target;
        readReference(TAG_SOURCE, source, true);
        readReference(TAG_TARGET, target, true);
        int32_t y = readLscLocation();
        placeAt(path);
        builder->procMessage(source.c_str(), target.c_str(), y, y < prechartEnd);
        placeAt(path);
        requiredLabel("$Message_label_is_required");
    });
    return true;
}

bool XMLReader::readCondition()
{
    if (!begin(TAG_CONDITION, true))
        return false;
    std::string path = currentXmlPath(TAG_CONDITION);
    ElementMark mark = markElement();
    readGuarded(mark, [&] {
        read();
        std::vector<std::string> anchors;
        std::string anchor;
        while (readReference(TAG_ANCHOR, anchor, false))
            anchors.push_back(anchor);
        if (anchors.empty())
            fail("Missing anchor element");
        int32_t y = readLscLocation();
        placeAt(path);
        if (!begin(TAG_TEMPERATURE))
            fail("Missing temperature");
        read();
        std::string temperature = readName(NameKind::identifier);
        builder->procCondition(anchors, y, y < prechartEnd, temperature == "hot");
        requiredLabel("$Condition_label_is_required");
    });
    return true;
}

bool XMLReader::readUpdate()
{
    if (!begin(TAG_UPDATE, true))
        return false;
    std::string path = currentXmlPath(TAG_UPDATE);
    ElementMark mark = markElement();
    readGuarded(mark, [&] {
        read();
        std::string anchor;
        readReference(TAG_ANCHOR, anchor, true);
        int32_t y = readLscLocation();
        placeAt(path);
        builder->procLscUpdate(anchor.c_str(), y, y < prechartEnd);
        requiredLabel("$Update_label_is_required");
    });
    return true;
}

// ---- system line and stored queries ---------------------------------------------

void XMLReader::readSystemAndQueries(QueryList* queries)
{
    if (!begin(TAG_SYSTEM)) {
        reportAt(isNta ? "/nta" : "/project", "$Missing_system_tag");
        return;
    }
    ElementMark mark = markElement();
    std::string text;
    readElementText(text);
    parseText(text, PART_SYSTEM);
    if (queries == nullptr)
        return;

    // Leave the system element, then look at what follows it without passing the
    // end of the root: the reader never reads beyond the last element it needs.
    skipElement(mark);
    if (isOpen(mark))
        read();
    skipBlanksAndComments();
    if (!isElementStart() || currentCode() != TAG_QUERIES || isEmptyElement())
        return;
    readQueries(*queries);
}

void XMLReader::readQueries(QueryList& queries)
{
    read();
    for (;;) {
        if (end(TAG_QUERIES))
            return;
        if (isEndTag() || !isElementStart()) {
            read();
            continue;
        }
        if (currentCode() != TAG_QUERY)
            fail("Only <query> allowed in <queries>");
        if (isEmptyElement())
            fail("Missing <comment> in <query>");
        read();
        skipBlanksAndComments();
        std::string formula, comment;
        if (isElementStart() && currentCode() == TAG_FORMULA) {
            formula = readQueryPart(TAG_FORMULA);
            skipBlanksAndComments();
        }
        if (!isElementStart() || currentCode() != TAG_COMMENT)
            fail("Missing <comment> in <query>");
        comment = readQueryPart(TAG_COMMENT);
        if (!end(TAG_QUERY))
            fail("Only <formula> and <comment> allowed in <query>");
        queries.addQuery(std::move(formula), std::move(comment));
        read();
    }
}

// With the cursor on a formula or comment start tag: its text (empty when it has
// none), with the cursor moved past the element.
std::string XMLReader::readQueryPart(int tag)
{
    if (isEmptyElement()) {
        read();
        return {};
    }
    std::string text;
    read();
    joinedText(text);
    if (!end(tag))
        fail("Only <formula> and <comment> allowed in <query>");
    read();
    return text;
}

} // namespace ZOLT
