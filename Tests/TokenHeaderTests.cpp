#include "Support/CapturedStandardOutput.h"
#include "Support/CloudInterfaceFixture.h"

#include <gtest/gtest.h>

#include <optional>

using Kind = Cloud::Error::Kind;

namespace
{
    /** A token answer whose "token" is the given JSON string text, quotes included. */
    LoopbackCloudService::Answer tokenAnswer (const std::string& quotedToken)
    {
        return { 200, "{\"token\": " + quotedToken + "}" };
    }

    const std::string injection = R"("abc\r\nX-Injected: yes")";
}

class TokenHeader : public CloudInterfaceFixture
{
protected:
    Cloud::Result<juce::String, Cloud::Error> handshake()
    {
        return Cloud::Interface::authenticate (LoopbackCloudService::clientId, LoopbackCloudService::clientSecret());
    }

    /** The list request's answer, authenticating first. */
    std::optional<Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error>> fetchList()
    {
        std::optional<Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error>> answer;
        interface->getAvailableFirmwareList ([&answer] (auto result) { answer = std::move (result); });
        pumpUntil ([&answer] { return answer.has_value(); });
        return answer;
    }

    /** Sends an update report with whatever token is held, and waits until it has gone. */
    bool reportAndWait()
    {
        CapturedStandardOutput output;
        interface->notifyServerOfFirmwareUpdate ({}, "harvellon", "kestrova", "kestrovalx", { 2, 1, 0 }, { 1, 6, 3 },
                                                 juce::Time::getCurrentTime(), juce::Time::getCurrentTime(), true);
        const auto ended = waitForWorkers();
        output.take();
        return ended;
    }

    bool anyRequestCarries (const std::string& headerName) const
    {
        for (const auto& request : service.requests())
            if (request.headerCount (headerName) != 0)
                return true;

        return false;
    }
};

TEST_F (TokenHeader, ATokenHoldingAControlCharacterIsATokenParseError)
{
    // As JSON escapes, and as raw characters inside the string, which the parser also takes.
    const std::string tokens[] = { injection, R"("abc\nX-Injected: yes")", R"("abc\r")", R"("\r\n")",
                                   R"("a\tb")", R"("a\u0001b")", R"("a\u001fb")", R"("a\u007fb")",
                                   "\"abc\r\nX-Injected: yes\"", "\"a\x7f" "b\"" };

    for (const auto& token : tokens)
    {
        SCOPED_TRACE (token);
        service.answerWith (Endpoint::clientResponse, tokenAnswer (token));

        const auto result = handshake();
        ASSERT_FALSE (result.isOk()) << result.getResult();
        EXPECT_EQ (result.getError().kind, Kind::parse);
        EXPECT_EQ (result.getError().description(), "Couldn't parse token response");
    }
}

TEST_F (TokenHeader, AnEmptyTokenOrOneWithABlankOrLettersBeyondAsciiIsStillAToken)
{
    const std::pair<std::string, juce::String> tokens[] = {
        { R"("")", "" },
        { R"("a b")", "a b" },
        { R"("caf\u00e9")", juce::String (juce::CharPointer_UTF8 ("caf\xc3\xa9")) },
    };

    for (const auto& [quoted, token] : tokens)
    {
        SCOPED_TRACE (quoted);
        service.answerWith (Endpoint::clientResponse, tokenAnswer (quoted));

        const auto result = handshake();
        ASSERT_TRUE (result.isOk()) << result.getError().description();
        EXPECT_EQ (result.getResult(), token);
    }
}

TEST_F (TokenHeader, ATokenThatWouldAddAHeaderLineNeverReachesTheService)
{
    service.answerWith (Endpoint::clientResponse, tokenAnswer (injection));

    const auto answer = fetchList();
    ASSERT_TRUE (answer.has_value());

    ASSERT_FALSE (answer->isOk());
    EXPECT_EQ (answer->getError().kind, Kind::serverAuthentication);
    EXPECT_TRUE (Inspector::token (*interface).isEmpty());

    // The report goes out with whatever token is held: none.
    ASSERT_TRUE (reportAndWait());

    EXPECT_TRUE (requestsTo (firmwareListPath).empty());
    ASSERT_EQ (requestsTo (updateReportPath).size(), 1u);
    EXPECT_EQ (requestsTo (updateReportPath)[0].headerCount ("Authorization"), 1u);
    EXPECT_FALSE (anyRequestCarries ("X-Injected"));
}

TEST_F (TokenHeader, APlainTokenGoesOutUnchangedAfterBearer)
{
    // Every printable character, quote and backslash escaped for JSON, with a blank inside.
    std::string token, quoted = "\"";

    for (char c = '!'; c <= '~'; ++c)
    {
        token += c;
        quoted += (c == '"' || c == '\\') ? std::string { '\\', c } : std::string { c };

        if (c == 'M')
        {
            token += ' ';
            quoted += ' ';
        }
    }

    service.answerWith (Endpoint::clientResponse, tokenAnswer (quoted + "\""));

    const auto answer = fetchList();
    ASSERT_TRUE (answer.has_value());
    EXPECT_EQ (Inspector::token (*interface), juce::String (token));

    ASSERT_TRUE (reportAndWait());

    for (const auto* path : { firmwareListPath, updateReportPath })
    {
        SCOPED_TRACE (path);
        const auto requests = requestsTo (path);
        ASSERT_EQ (requests.size(), 1u);
        EXPECT_EQ (requests[0].headerCount ("Authorization"), 1u);
        EXPECT_EQ (requests[0].header ("Authorization"), "Bearer " + token);
    }
}
