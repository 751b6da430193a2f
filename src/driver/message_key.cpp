#include "driver/message_key.h"

namespace {

bool endsKey(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':';
}

} // namespace

std::string formatMessageKey(const std::string& message)
{
    std::string text;
    text.reserve(message.size() + 1);
    std::size_t i = 0;
    while (i < message.size()) {
        const char c = message[i++];
        if (c != '$') {
            text += c;
            continue;
        }
        // Inside a key: underscores are blanks until the key ends; the character that ends
        // it is kept, and the search for the next key resumes after it.
        while (i < message.size()) {
            const char k = message[i++];
            text += k == '_' ? ' ' : k;
            if (endsKey(k)) {
                break;
            }
        }
    }
    if (!text.empty()) {
        const char last = text.back();
        if (last != '.' && last != '!' && last != '?') {
            text += '.';
        }
    }
    return text;
}

std::string formatMessageKey(const char* message)
{
    return formatMessageKey(std::string(message != nullptr ? message : ""));
}
