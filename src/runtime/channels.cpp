#include "runtime/channels.h"

#include <ostream>

#include "support/exceptions.h"

namespace {
struct Registry
{
    std::vector<ChannelInfo> channels;
    int64_t urgentCount = 0;
};

// Function-local, so its construction never depends on the order of translation units.
Registry& registry()
{
    static Registry instance;
    return instance;
}
}  // namespace

int32_t registerChannel(bool urgent, bool broadcast, const std::string& name)
{
    Registry& r = registry();
    const int32_t number = static_cast<int32_t>(r.channels.size()) + 1;
    r.channels.push_back(ChannelInfo{number, urgent, broadcast, name});
    if (urgent) {
        ++r.urgentCount;
    }
    return number;
}

void clearChannels()
{
    Registry& r = registry();
    r.channels.clear();
    r.urgentCount = 0;
}

const std::vector<ChannelInfo>& channelRegistry()
{
    return registry().channels;
}

size_t channelCount()
{
    return registry().channels.size();
}

const ChannelInfo& getChannel(int32_t c)
{
    const std::vector<ChannelInfo>& channels = registry().channels;
    if (c < 1 || static_cast<size_t>(c) > channels.size()) {
        throw Bug("No channel with number " + std::to_string(c));
    }
    return channels[static_cast<size_t>(c) - 1];
}

int64_t urgentChannelCount()
{
    return registry().urgentCount;
}

void printChannels(std::ostream& os)
{
    const std::vector<ChannelInfo>& channels = registry().channels;
    os << "Number of channels: " << channels.size() << "\n";
    for (size_t k = 0; k < channels.size(); ++k) {
        os << "  " << channels[k].name << " (" << (channels[k].urgent ? "true" : "false") << ", " << k << ")\n";
    }
}
