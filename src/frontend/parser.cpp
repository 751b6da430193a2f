#include "frontend/parser.h"

#include <cstring>
#include <stdexcept>
#include <string_view>

#include "frontend/parse_context.h"
#include "parser_generated.h"

namespace ZOLT {
namespace detail {

ParseContext& parseContext()
{
    static ParseContext context;
    return context;
}

const char* ParseContext::intern(const char* text, size_t length)
{
    return texts.emplace(text, length).first->c_str();
}

// Syntax error formats turned into message keys; other texts pass unchanged.
const char* messageKey(const char* message)
{
    static constexpr std::pair<std::string_view, const char*> keys[] = {
        {"syntax error", "$syntax_error"},
        {"memory exhausted", "$memory_exhausted"},
        {"syntax error, unexpected %s", "$syntax_error: $unexpected %s"},
        {"syntax error: cannot back up", "$syntax_error: $cannot_back_up"},
        {"syntax error, unexpected %s, expecting %s", "$syntax_error: $unexpected %s, $expecting %s"},
        {"syntax error, unexpected %s, expecting %s or %s", "$syntax_error: $unexpected %s, $expecting %s $or %s"},
        {"syntax error, unexpected %s, expecting %s or %s or %s",
         "$syntax_error: $unexpected %s, $expecting %s $or %s $or %s"},
        {"syntax error, unexpected %s, expecting %s or %s or %s or %s",
         "$syntax_error: $unexpected %s, $expecting %s $or %s $or %s $or %s"},
    };
    const std::string_view text(message);
    for (const auto& [from, to] : keys)
        if (from == text)
            return to;
    return message;
}

void reportError(ParserBuilder& builder, const char* message)
{
    // Cut like the builders' formatted reports: at most 255 characters.
    constexpr size_t limit = 255;
    const size_t length = std::strlen(message);
    builder.handleError(std::string(message, length < limit ? length : limit));
}

void reportAtToken(const char* message)
{
    ParseContext& c = parseContext();
    c.builder->setPosition(c.tokenStart, c.tokenEnd);
    reportError(*c.builder, message);
}

} // namespace detail

void beginPositionText(ParserBuilder& builder, const std::string& path, int32_t line)
{
    detail::ParseContext& c = detail::parseContext();
    c.line = line;
    c.offset += 1;
    c.textOffset = 0;
    c.path = path;
    builder.addPosition(c.offset, 0, line, path);
}

void stepPosition(ParserBuilder& builder, int32_t length)
{
    detail::ParseContext& c = detail::parseContext();
    builder.setPosition(static_cast<int32_t>(c.offset), static_cast<int32_t>(c.offset + static_cast<uint32_t>(length)));
    c.textOffset += length;
    c.offset += static_cast<uint32_t>(length);
}

void resetParserState()
{
    detail::ParseContext& c = detail::parseContext();
    detail::endScan();
    c = detail::ParseContext{};
}

namespace {

// First token of each start part: {new syntax, old syntax}.
constexpr int startTokens[][2] = {
    {T_NEW, T_OLD},
    {T_NEW_DECLARATION, T_OLD_DECLARATION},
    {T_NEW_LOCAL_DECL, T_OLD_LOCAL_DECL},
    {T_NEW_INST, T_OLD_INST},
    {T_NEW_SYSTEM, T_NEW_SYSTEM},
    {T_NEW_PARAMETERS, T_OLD_PARAMETERS},
    {T_NEW_INVARIANT, T_OLD_INVARIANT},
    {T_EXPONENTIALRATE, T_EXPONENTIALRATE},
    {T_NEW_SELECT, T_NEW_SELECT},
    {T_NEW_GUARD, T_OLD_GUARD},
    {T_NEW_SYNC, T_NEW_SYNC},
    {T_NEW_ASSIGN, T_OLD_ASSIGN},
    {T_EXPRESSION, T_EXPRESSION},
    {T_EXPRESSION_LIST, T_EXPRESSION_LIST},
    {T_PROPERTY, T_PROPERTY},
    {T_XTA_PROCESS, T_XTA_PROCESS},
    {T_PROBABILITY, T_PROBABILITY},
    {T_INSTANCELINE, T_INSTANCELINE},
    {T_MESSAGE, T_MESSAGE},
    {T_UPDATE, T_UPDATE},
    {T_CONDITION, T_CONDITION},
};

enum class Source { text, file };

// Runs one parse over a text or a file. Whatever way the parse ends, the input
// buffer is released and the context no longer points to the builder.
int parse(Source source, const char* text, FILE* file, ParserBuilder* builder, int syntax, int startToken,
          const std::string& path)
{
    detail::ParseContext& c = detail::parseContext();
    if (c.builder != nullptr)
        throw std::logic_error("A parse is already running");
    if (builder == nullptr)
        throw std::logic_error("A parse needs a builder");
    if (source == Source::text ? text == nullptr : file == nullptr)
        throw std::logic_error("A parse needs a text or a file to read");

    struct Session
    {
        detail::ParseContext& c;
        ~Session()
        {
            detail::endScan();
            c.builder = nullptr;
            c.startToken = 0;
            c.texts.clear();
        }
    } session{c};

    c.builder = builder;
    c.syntax = syntax;
    c.startToken = startToken;
    c.texts.clear();
    if (source == Source::text)
        detail::scanString(text);
    else
        detail::scanFile(file);
    beginPositionText(*builder, path);
    // The start token and an end of input met before any lexeme take the empty
    // span at the start of this text, so that nothing of this parse is placed in
    // the text read before it.
    c.tokenStart = c.tokenEnd = static_cast<int32_t>(c.offset);
    return detail::parseTokens() == 0 ? 0 : -1;
}

} // namespace

int runParserOnText(const char* text, ParserBuilder* builder, bool newSyntax, int part, const std::string& path)
{
    if (part < 0 || part > PART_CONDITION)
        throw std::logic_error("Unknown start part of a parse");
    return parse(Source::text, text, nullptr, builder, newSyntax ? 10 : 9, startTokens[part][newSyntax ? 0 : 1],
                 path);
}

int runParserOnModelText(const char* text, ParserBuilder* builder, bool newSyntax)
{
    return runParserOnText(text, builder, newSyntax, PART_MODEL, "");
}

int runParserOnFile(FILE* file, ParserBuilder* builder, bool newSyntax)
{
    return parse(Source::file, nullptr, file, builder, newSyntax ? 10 : 9, newSyntax ? T_NEW : T_OLD, "");
}

int runQueryParserOnText(const char* text, ParserBuilder* builder)
{
    return parse(Source::text, text, nullptr, builder, 4, T_PROPERTY, "");
}

int runQueryParserOnFile(FILE* file, ParserBuilder* builder)
{
    return parse(Source::file, nullptr, file, builder, 4, T_PROPERTY, "");
}

} // namespace ZOLT
