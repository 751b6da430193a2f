// Every model fixture and example, saved as XML and read back: the saved text is a
// fixed point of reading and writing, and the model read back checks as the original.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/parser.h"
#include "frontend/system_builder.h"
#include "frontend/xml_reader.h"
#include "frontend/xml_writer.h"
#include "language/query_list.h"
#include "language/system.h"
#include "typecheck/checked_reading.h"

namespace tc_test {
namespace {

namespace fs = std::filesystem;
using namespace ZOLT;

struct TempFile
{
    TempFile()
    {
        char name[] = "/tmp/mirvek_roundtrip_XXXXXX.xml";
        int fd = mkstemps(name, 4);
        if (fd < 0)
            throw std::runtime_error("cannot create a temporary file");
        close(fd);
        path = name;
    }
    ~TempFile() { unlink(path.c_str()); }
    std::string path;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool isXml(const fs::path& p) { return p.extension() == ".xml"; }
// Fixtures in the older syntax carry the extension ".ta".
bool isOldSyntax(const fs::path& p) { return p.extension() == ".ta"; }

// Reads a model file, checked when reading left no error.
void readChecked(const fs::path& path, TimedAutomataSystem& system)
{
    resetParserState();
    if (isXml(path)) {
        QueryList queries;
        readCheckedXmlModelFile(path.c_str(), &system, true, &queries);
        return;
    }
    FILE* file = std::fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr) << path;
    readCheckedTextModelFile(file, &system, !isOldSyntax(path));
    std::fclose(file);
}

// Whether reading the file alone, before any check, finds errors: a model whose text
// could not be read whole is saved without the parts that were lost.
bool readingFindsErrors(const fs::path& path)
{
    TimedAutomataSystem system;
    SystemBuilder builder(&system);
    resetParserState();
    if (isXml(path)) {
        try {
            readXmlModelFile(path.c_str(), &builder, true, nullptr);
        } catch (const std::exception&) {
            return true;
        }
    } else {
        FILE* file = std::fopen(path.c_str(), "r");
        runParserOnFile(file, &builder, !isOldSyntax(path));
        std::fclose(file);
    }
    return system.errorsPresent();
}

std::vector<std::string> messages(const std::vector<diagnostic_t>& list)
{
    std::vector<std::string> texts;
    for (const diagnostic_t& d : list)
        texts.push_back(d.message);
    return texts;
}

std::vector<fs::path> modelFiles()
{
    std::vector<fs::path> files;
    for (const char* folder : {MIRVEK_TEST_MODELS, MIRVEK_EXAMPLES})
        for (const auto& entry : fs::directory_iterator(folder)) {
            const fs::path& p = entry.path();
            if (p.extension() == ".xta" || p.extension() == ".ta" || p.extension() == ".xml")
                files.push_back(p);
        }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ModelRoundTrip, EveryFixtureAndExampleReadsBackAsSaved)
{
    const std::vector<fs::path> files = modelFiles();
    ASSERT_GT(files.size(), 30u);
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.string());
        TimedAutomataSystem first;
        readChecked(path, first);
        TempFile saved1, saved2;
        try {
            writeSystemXml(saved1.path.c_str(), first);
        } catch (const std::runtime_error& e) {
            // Only a model that already has errors may lack what a saved file needs.
            EXPECT_TRUE(first.errorsPresent()) << e.what();
            continue;
        }
        TimedAutomataSystem second;
        readChecked(saved1.path, second);
        writeSystemXml(saved2.path.c_str(), second);
        EXPECT_EQ(slurp(saved1.path), slurp(saved2.path));

        if (!readingFindsErrors(path)) {
            // The whole model was saved: it checks the same.
            EXPECT_EQ(messages(first.getErrors()), messages(second.getErrors()));
            EXPECT_EQ(messages(first.getWarnings()), messages(second.getWarnings()));
        }
    }
}

} // namespace
} // namespace tc_test
