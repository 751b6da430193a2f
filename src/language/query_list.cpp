#include "language/query_list.h"

#include <algorithm>

namespace ZOLT {

namespace {

// Formulas of the rendered query texts, in the order of their queries. Process-wide,
// behind a function so that its construction never depends on the order of
// translation units.
std::vector<std::string>& formulaList()
{
    static std::vector<std::string> formulas;
    return formulas;
}

} // namespace

void QueryList::addQuery(std::string formula, std::string comment)
{
    pairs.emplace_back(std::move(formula), std::move(comment));
}

const char* QueryList::renderQueryText()
{
    if (cachedText) {
        return cachedText->c_str();
    }
    if (pairs.empty()) {
        return nullptr;
    }
    std::string text;
    for (const auto& [formula, comment] : pairs) {
        text += "/*\n";
        text += comment;
        text += "\n*/\n";
        if (formula.empty()) {
            // A placeholder instead of a query, so that an empty formula yields no
            // query and the formulas listed keep the numbering of the parsed queries.
            text += "//NO_QUERY\n";
        } else {
            formulaList().push_back(formula);
            // A query may span lines only when each line end is escaped.
            std::string escaped = formula;
            replaceAll(escaped, "\n", "\\\n");
            text += "\n";
            text += escaped;
            text += "\n\n";
        }
    }
    cachedText = std::move(text);
    return cachedText->c_str();
}

std::string getQueryFormula(int32_t i)
{
    std::vector<std::string>& formulas = formulaList();
    if (i < 0 || static_cast<std::size_t>(i) >= formulas.size()) {
        return {};
    }
    std::string& f = formulas[static_cast<std::size_t>(i)];
    f.erase(std::remove(f.begin(), f.end(), '\\'), f.end());
    return f;
}

void clearQueryFormulas() { formulaList().clear(); }

std::string& replaceAll(std::string& text, const std::string& pattern,
                        const std::string& replacement)
{
    if (pattern.empty()) {
        return text;  // nothing to replace; scanning would never advance
    }
    std::string::size_type at = text.find(pattern);
    while (at != std::string::npos) {
        text.replace(at, pattern.size(), replacement);
        at = text.find(pattern, at + replacement.size());
    }
    return text;
}

} // namespace ZOLT
