#include "support/platform.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

uint64_t millisecondsPerTick = 0;
uint64_t pageSize = 0;

// Only this much of a line of the memory table is looked at.
constexpr std::size_t maxLineLength = 256;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The value of a memory-table line "Key:   1234 kB" after its colon, scaled to kB.
uint64_t parseMemoryValue(std::string_view rest)
{
    std::size_t pos = 0;
    while (pos < rest.size() && !std::isdigit(static_cast<unsigned char>(rest[pos]))) {
        ++pos;
    }
    const bool negative = pos > 0 && pos < rest.size() && rest[pos - 1] == '-';
    uint64_t value = 0;
    while (pos < rest.size() && std::isdigit(static_cast<unsigned char>(rest[pos]))) {
        value = value * 10 + static_cast<uint64_t>(rest[pos] - '0');
        ++pos;
    }
    if (negative) {
        value = 0;
    }
    while (pos < rest.size() && (rest[pos] == ' ' || rest[pos] == '\t')) {
        ++pos;
    }
    std::string_view unit = rest.substr(pos);
    while (!unit.empty() && std::isspace(static_cast<unsigned char>(unit.back()))) {
        unit.remove_suffix(1);
    }
    if (equalsIgnoringCase(unit, "b")) {
        return value / 1024;
    }
    if (equalsIgnoringCase(unit, "mb")) {
        return value * 1024;
    }
    if (equalsIgnoringCase(unit, "gb")) {
        return value * 1048576;
    }
    return value;
}

}  // namespace

void initSystemUnits()
{
    const long ticks = sysconf(_SC_CLK_TCK);
    const long page = sysconf(_SC_PAGESIZE);
    millisecondsPerTick = ticks > 0 ? static_cast<uint64_t>(1000 / ticks) : 0;
    pageSize = page > 0 ? static_cast<uint64_t>(page) : 0;
}

uint64_t getMillisecondsPerTick()
{
    return millisecondsPerTick;
}

uint64_t getPageSize()
{
    return pageSize;
}

void readMemoryInfo(MemoryInfo& info, const char* path)
{
    info = MemoryInfo{};
    std::ifstream in(path);
    if (!in) {
        return;
    }
    static constexpr std::array<std::string_view, 6> keys = {"MemTotal", "MemFree",   "Buffers",
                                                             "Cached",   "SwapTotal", "SwapFree"};
    std::array<bool, keys.size()> found{};
    std::size_t foundCount = 0;
    std::string line;
    while (foundCount < keys.size() && std::getline(in, line)) {
        std::string_view text(line);
        text = text.substr(0, maxLineLength - 1);
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view key = text.substr(0, colon);
        std::size_t k = 0;
        while (k < keys.size() && (found[k] || key != keys[k])) {
            ++k;
        }
        if (k == keys.size()) {
            continue;
        }
        found[k] = true;
        ++foundCount;
        const uint64_t value = parseMemoryValue(text.substr(colon + 1));
        switch (k) {
        case 0: info.total = value; break;
        case 1: info.freeAndBuffers += value; break;
        case 2: info.freeAndBuffers += value; break;
        case 3: info.cached = value; break;
        case 4: info.swapTotal = value; break;
        default: info.swapFree = value; break;
        }
    }
    if (foundCount < keys.size()) {
        info = MemoryInfo{};
        return;
    }
    info.totalWithSwap = info.total + info.swapTotal;
    info.freeWithSwap = info.freeAndBuffers + info.swapFree;
}

namespace {

// A numeric field of the status line; negative values count as 0.
uint64_t fieldValue(const std::vector<std::string>& fields, std::size_t position)
{
    if (position > fields.size()) {
        return 0;
    }
    const std::string& field = fields[position - 1];
    if (field.empty() || field[0] == '-') {
        return 0;
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

}  // namespace

void readProcessStats(ProcessStats& stats, const char* path)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    stats.wallMs = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_usec) / 1000;

    std::ifstream in(path);
    if (!in) {
        return;
    }
    std::string line;
    std::getline(in, line);

    // Fields are separated by blanks. The second one, the program name in brackets, may itself
    // hold blanks or brackets: it runs to the last ')' of the line, so that the fields after it
    // keep their positions whatever the name.
    std::vector<std::string> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos]))) {
            ++pos;
        }
        if (pos >= line.size()) {
            break;
        }
        std::size_t stop = pos;
        if (fields.size() == 1 && line[pos] == '(') {
            const std::size_t close = line.rfind(')');
            stop = close != std::string::npos && close > pos ? close + 1 : line.size();
        } else {
            while (stop < line.size() && !std::isspace(static_cast<unsigned char>(line[stop]))) {
                ++stop;
            }
        }
        fields.emplace_back(line, pos, stop - pos);
        pos = stop;
    }

    stats.userMs = (fieldValue(fields, 14) + fieldValue(fields, 16)) * millisecondsPerTick;
    stats.systemMs = (fieldValue(fields, 15) + fieldValue(fields, 17)) * millisecondsPerTick;
    stats.virtualKB = fieldValue(fields, 23) / 1024;
    stats.residentKB = fieldValue(fields, 24) * pageSize / 1024;
    stats.swappedKB = (fieldValue(fields, 36) + fieldValue(fields, 37)) * pageSize / 1024;
}
