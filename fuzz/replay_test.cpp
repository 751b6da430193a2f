// Every input the fuzz targets know, replayed through them: their seeds (the model and query
// fixtures and the examples), the corpus kept beside the targets, and the reproducers of past
// findings. Deterministic, and part of the normal build, so that a finding once fixed stays so.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "targets.h"

namespace {

namespace fs = std::filesystem;

struct Target
{
    const char* name;
    int (*run)(const uint8_t*, size_t);
    const char* seedExtension;  // of the fixtures and examples that seed it
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

const Target targets[] = {
    {"model_text", mirvek_fuzz::modelText, ".xta"},
    {"model_text_old", mirvek_fuzz::modelTextOld, ".ta"},
    {"query_text", mirvek_fuzz::queryText, ".q"},
    {"model_xml", mirvek_fuzz::modelXml, ".xml"},
};

std::vector<fs::path> filesIn(const fs::path& folder, const std::string& extension = "")
{
    std::vector<fs::path> files;
    if (!fs::is_directory(folder))
        return files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && (extension.empty() || entry.path().extension() == extension))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplay : public ::testing::TestWithParam<Target>
{
};

TEST_P(FuzzReplay, SeedsCorpusAndReproducersRunThrough)
{
    const Target& target = GetParam();
    std::vector<fs::path> inputs;
    for (const char* folder : {MIRVEK_TEST_MODELS, MIRVEK_EXAMPLES})
        for (const fs::path& p : filesIn(folder, target.seedExtension))
            inputs.push_back(p);
    const fs::path fuzz = MIRVEK_FUZZ_DIR;
    const std::vector<fs::path> corpus = filesIn(fuzz / "corpus" / target.name);
    const std::vector<fs::path> reproducers = filesIn(fuzz / "reproducers" / target.name);
    inputs.insert(inputs.end(), corpus.begin(), corpus.end());
    inputs.insert(inputs.end(), reproducers.begin(), reproducers.end());
    ASSERT_FALSE(inputs.empty());
    EXPECT_FALSE(reproducers.empty()) << "every target keeps the reproducers of its findings";
    for (const fs::path& input : inputs) {
        const std::string data = slurp(input);
        EXPECT_EQ(target.run(reinterpret_cast<const uint8_t*>(data.data()), data.size()), 0) << input;
    }
    // The empty input and a lone NUL byte, which no file here holds.
    EXPECT_EQ(target.run(nullptr, 0), 0);
    const uint8_t nul = 0;
    EXPECT_EQ(target.run(&nul, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(targets),
                         [](const ::testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

} // namespace
