// Bad input of every kind ends with reported errors and a clean return.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "parse_helpers.h"

namespace {

using namespace mirvek_test;

// Parses bytes through the FILE entry, which also sees NUL bytes.
int parseBytesAsFile(const std::string& bytes, RecordingBuilder& builder, bool queries)
{
    FILE* file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    const int result = queries ? ZOLT::runQueryParserOnFile(file, &builder) : ZOLT::runParserOnFile(file, &builder, true);
    std::fclose(file);
    return result;
}

TEST(ParserRobustness, RandomBytes)
{
    const unsigned seed = 20261210;
    std::mt19937 random(seed);
    // Mostly characters of the language, so that the parser gets past the first token.
    const std::string alphabet = "AEURW[]<>(){};:,.?!&|^~=+-*/%'\\#\"$ \t\n\r0123456789abcxyz_";
    for (int round = 0; round < 300; ++round) {
        std::string text(random() % 200, ' ');
        for (char& ch : text)
            ch = random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));

        const int part = static_cast<int>(random() % 21);
        std::string terminated = text;
        terminated.erase(std::remove(terminated.begin(), terminated.end(), '\0'), terminated.end());
        auto p = parsePart(terminated, part, round % 2 == 0);
        EXPECT_TRUE(p.result == 0 || p.result == -1);
        if (p.result == -1) {
            EXPECT_FALSE(p.builder.errors.empty());
        }

        RecordingBuilder fileBuilder;
        const int result = parseBytesAsFile(text, fileBuilder, round % 3 == 0);
        EXPECT_TRUE(result == 0 || result == -1);
        if (result == -1) {
            EXPECT_FALSE(fileBuilder.errors.empty());
        }
    }
}

std::string readFixture(const char* name)
{
    std::ifstream in(std::string(MIRVEK_TEST_MODELS) + "/" + name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

TEST(ParserRobustness, FilesTruncatedAnywhere)
{
    const std::string model = readFixture("parse_template.xta");
    const size_t systemLine = model.find("system P < Q, R;");
    ASSERT_NE(systemLine, std::string::npos);
    for (size_t length = 0; length < model.size(); ++length) {
        SCOPED_TRACE("model cut at " + std::to_string(length));
        RecordingBuilder builder;
        const int result = parseBytesAsFile(model.substr(0, length), builder, false);
        EXPECT_TRUE(result == 0 || result == -1);
        if (length < systemLine + 16) {
            EXPECT_FALSE(builder.errors.empty());
        }
    }
    // The older syntax and the recovery fixture, cut anywhere, through the text entry.
    for (const auto& [name, newSyntax] : {std::pair{"parse_old_syntax.ta", false}, {"parse_recovery.xta", true}}) {
        const std::string text = readFixture(name);
        for (size_t length = 0; length < text.size(); ++length) {
            SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(length));
            auto p = parsePart(text.substr(0, length), ZOLT::PART_MODEL, newSyntax);
            EXPECT_TRUE(p.result == 0 || p.result == -1);
            EXPECT_FALSE(p.builder.errors.empty());
        }
    }
    const std::string queries = readFixture("parse_queries.q");
    for (size_t length = 0; length < queries.size(); ++length) {
        SCOPED_TRACE("queries cut at " + std::to_string(length));
        RecordingBuilder builder;
        const int result = parseBytesAsFile(queries.substr(0, length), builder, true);
        EXPECT_TRUE(result == 0 || result == -1);
    }
}

// A file is read in blocks; lexemes that straddle the end of a block (a name, a
// two-character operator, a line end inside a comment) must scan as they do in
// a text held in memory, with the same spans.
TEST(ParserRobustness, FileBlocksAreInvisible)
{
    const std::string model = readFixture("parse_template.xta");
    const size_t block = 16384;
    for (size_t pad = block - 300; pad < block + 8; ++pad) {
        SCOPED_TRACE("padding " + std::to_string(pad));
        const std::string text = pad % 2 ? std::string(pad, ' ') + model : "/*" + std::string(pad, '\n') + "*/" + model;
        auto fromText = parsePart(text, ZOLT::PART_MODEL);
        RecordingBuilder fromFile;
        EXPECT_EQ(parseBytesAsFile(text, fromFile, false), fromText.result);
        ASSERT_EQ(joined(fromFile.calls), fromText.calls);
        const auto textBase = static_cast<int32_t>(fromText.builder.positions[0].position);
        const auto fileBase = static_cast<int32_t>(fromFile.positions[0].position);
        for (size_t i = 0; i < fromFile.spans.size(); ++i)
            ASSERT_EQ(fromFile.spans[i].start - fileBase, fromText.builder.spans[i].start - textBase) << fromFile.calls[i];
        ASSERT_EQ(fromFile.positions.size(), fromText.builder.positions.size());
    }
}

TEST(ParserRobustness, DeepNesting)
{
    const int depth = 10000;
    const std::string cases[] = {
        std::string(depth, '(') + "1" + std::string(depth, ')'),
        [depth] {
            std::string subscripts = "1";
            for (int i = 0; i < depth; ++i)
                subscripts = "a[" + subscripts + "]";
            return subscripts;
        }(),
        std::string(depth, '-') + "1",
    };
    for (const std::string& text : cases) {
        auto p = parsePart(text, ZOLT::PART_EXPRESSION);
        EXPECT_EQ(p.result, -1);
        ASSERT_FALSE(p.builder.errors.empty());
        EXPECT_EQ(p.builder.errors.back(), "$memory_exhausted");
    }
    auto blocks = parsePart("void f() " + std::string(depth, '{') + std::string(depth, '}'), ZOLT::PART_DECLARATIONS);
    EXPECT_EQ(blocks.result, -1);
    ASSERT_FALSE(blocks.builder.errors.empty());
    EXPECT_EQ(blocks.builder.errors.back(), "$memory_exhausted");
}

TEST(ParserRobustness, MegabyteIdentifier)
{
    const std::string name(1 << 20, 'n');
    const std::string expected =
        "error($Identifier_is_too_long._Limit_length_is_4000.); exprId(" + name.substr(0, 4000) + ")";
    auto p = parsePart(name, ZOLT::PART_EXPRESSION);
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.calls, expected);

    // Through a file the scanner's buffer must grow to hold the lexeme.
    RecordingBuilder builder;
    EXPECT_EQ(parseBytesAsFile("int " + name + ";", builder, false), -1);
    ASSERT_FALSE(builder.calls.empty());
    // The type is reduced once the name has been read as its look-ahead.
    EXPECT_EQ(builder.calls[0], "error($Identifier_is_too_long._Limit_length_is_4000.)");
    EXPECT_EQ(builder.calls[1], "typeInt(0)");
    EXPECT_EQ(builder.calls[3], "declVar(" + name.substr(0, 4000) + ", false)");
}

} // namespace
