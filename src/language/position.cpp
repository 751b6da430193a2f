#include "language/position.h"

#include <ostream>
#include <stdexcept>
#include <utility>

namespace ZOLT {

void position_table_t::add(uint32_t position, int32_t offset, int32_t line, std::string path)
{
    if (!entries.empty() && position < entries.back().position) {
        throw std::logic_error("Positions must be monotonically increasing");
    }
    entries.push_back(position_t{position, offset, line, std::move(path)});
}

const position_t& position_table_t::find(uint32_t position) const
{
    if (entries.empty()) {
        throw std::logic_error("No positions have been added");
    }
    // Invariant: entries[lo] is the best candidate so far; everything from hi on
    // starts after `position`. Ties move lo right, so the last of equal entries wins.
    std::size_t lo = 0;
    std::size_t hi = entries.size();
    while (lo + 1 < hi) {
        std::size_t mid = (lo + hi) / 2;
        if (position >= entries[mid].position) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return entries[lo];
}

diagnostic_t makeDiagnostic(const position_table_t& table, span_t span, std::string message,
                            std::string context)
{
    diagnostic_t d;
    if (!table.empty()) {
        d.end = table.find(static_cast<uint32_t>(span.end));
        d.start = table.find(static_cast<uint32_t>(span.start));
    }
    d.spanStart = span.start;
    d.spanEnd = span.end;
    d.message = std::move(message);
    d.context = std::move(context);
    return d;
}

std::ostream& operator<<(std::ostream& out, const diagnostic_t& d)
{
    // Columns in 64 bits: an offset before the first line start gives a negative
    // column rather than a wrapped one.
    auto column = [](int32_t offset, const position_t& at) {
        return static_cast<int64_t>(offset) - static_cast<int64_t>(at.position);
    };
    out << d.message;
    if (!d.start.path.empty()) {
        out << " in " << d.start.path;
    }
    out << " at line " << d.start.line << " column " << column(d.spanStart, d.start)
        << " to line " << d.end.line << " column " << column(d.spanEnd, d.end);
    return out;
}

} // namespace ZOLT
