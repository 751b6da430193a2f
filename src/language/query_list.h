#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ZOLT {

// The queries stored inside an XML model, each a formula with a comment, kept in the
// order the reader meets them. They are rendered once as the text of a query file for
// the query parser; rendering also lists the formulas process-wide (getQueryFormula),
// so that each job can print the formula it verifies.
class QueryList
{
public:
    // Appends one (formula, comment) pair; nothing is parsed or checked.
    void addQuery(std::string formula, std::string comment);

    // The query-file text of all pairs, or null when the list holds none. The text is
    // built on the first call and then kept: later calls return the same pointer, and
    // pairs added afterwards do not change it. The list owns the text.
    const char* renderQueryText();

    // The (formula, comment) pairs in the order they were added.
    const std::vector<std::pair<std::string, std::string>>& getQueries() const { return pairs; }

private:
    std::vector<std::pair<std::string, std::string>> pairs;
    std::optional<std::string> cachedText;
};

// The formula of the i-th query of the rendered text (from 0) with every backslash
// removed; the stored entry is changed the same way. An index with no formula gives
// the empty string.
std::string getQueryFormula(int32_t i);

// Forgets the formulas listed by earlier renderings (for tests that render anew).
void clearQueryFormulas();

// Replaces every occurrence of `pattern` in `text`, left to right; the scan resumes
// behind each inserted replacement, so inserted text is never scanned again. The
// text is left as it is for an empty pattern. Returns `text`.
std::string& replaceAll(std::string& text, const std::string& pattern,
                        const std::string& replacement);

} // namespace ZOLT
