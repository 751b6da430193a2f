#pragma once

// The process-wide registry of channels. The compiler registers every declared channel in
// declaration order; edges refer to channels by signed number (+c sends, -c receives), and
// processes, locations and the priority matrix size their tables by the number of channels.
// Cleared (with the intern table of edge tuples) when a compiled system is discarded.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ChannelInfo
{
    int32_t number;  // 1 for the first registered channel
    bool urgent;
    bool broadcast;
    std::string name;
};

// Appends a channel and returns its number (the number of channels registered before, plus 1).
int32_t registerChannel(bool urgent, bool broadcast, const std::string& name);
// Forgets every channel; the next one registered gets number 1 again.
void clearChannels();

// The entries in number order: channel c is entry c - 1.
const std::vector<ChannelInfo>& channelRegistry();
// Number of registered channels.
size_t channelCount();
// The entry of channel c (1 <= c <= channelCount()).
const ChannelInfo& getChannel(int32_t c);
// Number of registered urgent channels.
int64_t urgentChannelCount();

// "Number of channels: n" and one line per channel with its urgent flag and 0-based position.
void printChannels(std::ostream& os);
