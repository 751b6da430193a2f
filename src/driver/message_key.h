#pragma once

#include <string>

// Turns a stored message into the text printed for the user. Every "$" is dropped and the
// underscores after it become blanks up to the next blank, tab, newline, carriage return or
// colon (the end of the key); text after the key, a second "$" within the key included, is left
// as it is. A full stop is appended unless the text is empty or already ends in ".", "!" or "?".
// Placeholders such as "%1%" are not touched.
std::string formatMessageKey(const char* message);
std::string formatMessageKey(const std::string& message);
