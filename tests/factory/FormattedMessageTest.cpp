// The framework's "{n}" message style as the plug-in fills it in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/FormattedMessage.h"

TEST(FormattedMessage, EachPlaceholderTakesItsArgumentOnce) {
    const struct {
        const char* text;
        std::vector<std::string> args;
        const char* expected;
    } rows[] = {
        {"Proxy region [{1}] and snap region [{2}] is different.", {"us-east-1", ""},
         "Proxy region [us-east-1] and snap region [] is different."},
        {"{2} before {1}, {1} again", {"a", "b"}, "b before a, a again"},
        {"[{1}] [{2}]", {"{2}", "x"}, "[{2}] [x]"},   // an argument is not read again
        {"[{3}] [{}] [{x}] {1", {"a"}, "[{3}] [{}] [{x}] {1"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.expected, AmazonCommon::FormatMessage(row.text, row.args)) << row.text;
}
