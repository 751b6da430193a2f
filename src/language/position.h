#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "language/span.h"

namespace ZOLT {

// One entry of the position table: from the offset `position` of the global position
// space on, the text named `path` is at line `line`, and its columns are counted from
// the character offset `offset` within that text.
//
// A default-constructed entry (position 0, offset 0, line 0, empty path) stands for "no
// known place": real entries always have a line of 1 or more.
struct position_t
{
    uint32_t position = 0;
    int32_t offset = 0;
    int32_t line = 0;
    std::string path;

    bool operator==(const position_t&) const = default;
};

// Maps offsets of the global position space back to the text, line and line start they
// belong to. Entries are only appended, in non-decreasing order of `position`.
class position_table_t
{
public:
    // Appends an entry. Equal positions are accepted (a later lookup of that position
    // finds the newer entry); a position smaller than the last one throws
    // std::logic_error "Positions must be monotonically increasing" and leaves the
    // table unchanged.
    void add(uint32_t position, int32_t offset, int32_t line, std::string path);

    // The entry that covers `position`: the last entry whose position is at most
    // `position`, or the first entry when `position` lies before all of them.
    // Throws std::logic_error "No positions have been added" on an empty table.
    const position_t& find(uint32_t position) const;

    bool empty() const { return entries.empty(); }
    std::size_t size() const { return entries.size(); }
    const position_t& operator[](std::size_t i) const { return entries[i]; }

private:
    std::vector<position_t> entries;
};

// One recorded error or warning about a model or a query.
struct diagnostic_t
{
    position_t start;     // table entry covering the span's start
    position_t end;       // table entry covering the span's end
    int32_t spanStart = 0;
    int32_t spanEnd = 0;
    std::string message;  // normally a "$Key" text, formatted only when printed
    std::string context;  // extra text given with an error; empty for warnings
};

// Builds the diagnostic for `span` against `table`. The start and end entries are the
// ones that cover the span's two offsets; a span without a position therefore gets the
// table's first entry as start and its last entry as end.
//
// A diagnostic is never lost for want of a position: when the table is still empty
// (a loader failed before it read any text), both entries are the "no known place"
// entry of position_t.
diagnostic_t makeDiagnostic(const position_table_t& table, span_t span, std::string message,
                            std::string context = {});

// Text form: the message, " in " and the start path when that path is not empty, then
// " at line L column C to line L column C", the columns being the span offsets relative
// to the start of their lines.
std::ostream& operator<<(std::ostream& out, const diagnostic_t& diagnostic);

} // namespace ZOLT
