#include "Cloud/StatusCode.h"

#include <gtest/gtest.h>

namespace
{
    struct Entry
    {
        int code;
        const char* phrase;
    };

    const Entry reasonPhrases[] = {
        { 100, "Continue" }, { 101, "Switching Protocols" }, { 102, "Processing" },
        { 200, "OK" }, { 201, "Created" }, { 202, "Accepted" }, { 203, "Non-Authoritative Information" },
        { 204, "No Content" }, { 205, "Reset Content" }, { 206, "Partial Content" }, { 207, "Multi-Status" },
        { 208, "Already Reported" }, { 226, "IM Used" },
        { 300, "Multiple Choices" }, { 301, "Moved Permanently" }, { 302, "Found" }, { 303, "See Other" },
        { 304, "Not Modified" }, { 305, "Use Proxy" }, { 306, "Switch Proxy" }, { 307, "Temporary Redirect" },
        { 308, "Permanent Redirect" },
        { 400, "Bad Request" }, { 401, "Unauthorized" }, { 402, "Payment Required" }, { 403, "Forbidden" },
        { 404, "Not Found" }, { 405, "Method Not Allowed" }, { 406, "Not Acceptable" },
        { 407, "Proxy Authentication Required" }, { 408, "Request Timeout" }, { 409, "Conflict" },
        { 410, "Gone" }, { 411, "Length Required" }, { 412, "Precondition Failed" },
        { 413, "Payload Too Large" }, { 414, "URI Too Long" }, { 415, "Unsupported Media Type" },
        { 416, "Range Not Satisfiable" }, { 417, "Expectation Failed" }, { 418, "I'm a teapot" },
        { 421, "Misdirected Request" }, { 422, "Unprocessable Entity" }, { 423, "Locked" },
        { 424, "Failed Dependency" }, { 426, "Upgrade Required" }, { 428, "Precondition Required" },
        { 429, "Too Many Requests" }, { 431, "Request Header Fields Too Large" },
        { 451, "Unavailable For Legal Reasons" },
        { 500, "Internal Server Error" }, { 501, "Not Implemented" }, { 502, "Bad Gateway" },
        { 503, "Service Unavailable" }, { 504, "Gateway Timeout" }, { 505, "HTTP Version Not Supported" },
        { 506, "Variant Also Negotiates" }, { 507, "Insufficient Storage" }, { 508, "Loop Detected" },
        { 510, "Not Extended" }, { 511, "Network Authentication Required" },
    };
}

TEST (StatusCode, TableHoldsExactlyTheSixtyOneCodesWithTheirPhrases)
{
    ASSERT_EQ (std::size (reasonPhrases), 61u);
    EXPECT_EQ (Cloud::StatusCode::statusCodeDescriptions.size(), 61u);

    for (const auto& entry : reasonPhrases)
        EXPECT_EQ (Cloud::StatusCode (entry.code).description(), juce::String (entry.phrase)) << entry.code;
}

TEST (StatusCode, OnlyTheTenListedTwoHundredsAreSuccessful)
{
    const std::set<int> successful { 200, 201, 202, 203, 204, 205, 206, 207, 208, 226 };

    for (int code = -1000; code <= 1000; ++code)
        EXPECT_EQ (Cloud::StatusCode (code).successful(), successful.count (code) == 1) << code;

    for (int code : { std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 200 + 65536 })
        EXPECT_FALSE (Cloud::StatusCode (code).successful()) << code;
}

TEST (StatusCode, CodesOutsideTheTableHaveNoPhrase)
{
    for (int code : { 103, 209, 225, 227, 299, 419, 420, 425, 427, 430, 509, 520, 0, -1, 600 })
    {
        EXPECT_TRUE (Cloud::StatusCode (code).description().isEmpty()) << code;
        EXPECT_FALSE (Cloud::StatusCode (code).successful()) << code;
    }
}

TEST (StatusCode, KeepsAnyValueUnchanged)
{
    EXPECT_EQ (Cloud::StatusCode (-7).code, -7);
    EXPECT_EQ (Cloud::StatusCode (99999).code, 99999);
}
