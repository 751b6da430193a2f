#include "driver/message_key.h"

#include <gtest/gtest.h>

#include <string>

TEST(FormatMessageKey, TurnsKeysIntoSentences)
{
    struct Case
    {
        const char* name;
        const char* message;
        const char* expected;
    };
    const Case cases[] = {
        {"plain key", "$Invalid_property_type", "Invalid property type."},
        {"empty text stays empty", "", ""},
        {"free text after colon keeps underscores", "$No_such_process: my_proc",
         "No such process: my_proc."},
        {"key ends at blank", "$Unknown_identifier x_y", "Unknown identifier x_y."},
        {"key ends at tab", "$A_b\tc_d", "A b\tc_d."},
        {"key ends at newline", "$A_b\nc_d", "A b\nc_d."},
        {"key ends at carriage return", "$A_b\rc_d", "A b\rc_d."},
        {"second dollar inside a key is kept", "$A_$b_c", "A $b c."},
        {"two keys", "$First_key: $Second_key", "First key: Second key."},
        {"text without key", "plain_text", "plain_text."},
        {"ends in question mark", "$Is_it_so?", "Is it so?"},
        {"ends in exclamation mark", "$Stop_now!", "Stop now!"},
        {"ends in full stop", "Done.", "Done."},
        {"placeholders untouched", "$Bad_value %1%", "Bad value %1%."},
        {"lone dollar", "$", ""},
        {"dollar at end of text", "cost $", "cost ."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatMessageKey(c.message), c.expected) << c.name;
        EXPECT_EQ(formatMessageKey(std::string(c.message)), c.expected) << c.name;
    }
    EXPECT_EQ(formatMessageKey(static_cast<const char*>(nullptr)), "");
}
