// Every model of the repository that reads and checks without errors compiles.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "compile_helpers.h"
#include "compiler/compiler.h"
#include "runtime/channels.h"
#include "runtime/system.h"
#include "typecheck/checked_reading.h"

namespace fs = std::filesystem;
using namespace ZOLT;

TEST(RepositoryModels, EveryCheckedModelCompiles)
{
    int compiled = 0;
    for (const char* folder : {MIRVEK_TEST_MODELS, MIRVEK_EXAMPLES}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            const std::string path = entry.path().string();
            const std::string extension = entry.path().extension().string();
            // Models made to fail in the compiler have names of their own.
            if ((extension != ".xta" && extension != ".ta" && extension != ".xml") ||
                entry.path().filename().string().rfind("comp_error", 0) == 0) {
                continue;
            }
            SCOPED_TRACE(path);
            clearChannels();
            compiler_test::Compiled c;
            c.model = std::make_unique<TimedAutomataSystem>();
            if (extension == ".xml") {
                QueryList queries;
                readCheckedXmlModelFile(path.c_str(), c.model.get(), true, &queries);
            } else {
                std::FILE* file = std::fopen(path.c_str(), "r");
                ASSERT_NE(file, nullptr);
                readCheckedTextModelFile(file, c.model.get(), extension == ".xta");
                std::fclose(file);
            }
            if (c.model->errorsPresent()) {
                continue;
            }
            c.compiler = new Compiler(c.model.get());
            EXPECT_NO_THROW(c.system = c.compiler->compileSystem());
            ++compiled;
        }
    }
    EXPECT_GE(compiled, 10);
}
