#include "Cloud/CloudStructs.h"
#include "Support/LoopbackCloudService.h"
#include "Support/TimeZoneFixture.h"

#include <gtest/gtest.h>

using Cloud::ClientTokenGenerationChallenge;

namespace
{
    juce::var challengeJson (const juce::String& clientMembers,
                             const juce::String& responsePath = "\"https://auth.example.com/respond/7\"")
    {
        return juce::JSON::parse ("{ \"responsePath\": " + responsePath + ", \"client\": { " + clientMembers + " } }");
    }

    const juce::String completeClient = "\"proof\": \"ab12\", \"proofSalt\": \"cd34\", \"salt\": \"ef56\"";
}

TEST (ClientTokenGenerationChallenge, ReadsTheFourValues)
{
    const auto result = ClientTokenGenerationChallenge::fromJson (challengeJson (completeClient));
    ASSERT_TRUE (result.isOk());

    const auto& challenge = result.getResult();
    EXPECT_EQ (challenge.responsePath.toString (true), "https://auth.example.com/respond/7");
    EXPECT_EQ (challenge.proof, "ab12");
    EXPECT_EQ (challenge.proofSalt, "cd34");
    EXPECT_EQ (challenge.salt, "ef56");
}

TEST (ClientTokenGenerationChallenge, KeepsAQueryInTheResponseAddress)
{
    const auto result = ClientTokenGenerationChallenge::fromJson (challengeJson (completeClient, "\"https://auth.example.com/respond?challenge=7&x=%2F\""));
    ASSERT_TRUE (result.isOk());

    const auto withBody = result.getResult().responsePath.withPOSTData ("{}");
    EXPECT_EQ (withBody.toString (false), "https://auth.example.com/respond?challenge=7&x=%2F");
    EXPECT_EQ (withBody.getPostData(), "{}");
}

TEST (ClientTokenGenerationChallenge, RefusesMissingEmptyOrNonTextValues)
{
    const juce::String malformed[] = {
        "",
        "not json",
        "[]",
        "{}",
        "{ \"responsePath\": \"https://auth.example.com/r\" }",
        "{ \"responsePath\": \"https://auth.example.com/r\", \"client\": \"proof\" }",
        "{ \"responsePath\": \"https://auth.example.com/r\", \"client\": [ \"ab12\", \"cd34\", \"ef56\" ] }",
        "{ \"client\": { " + completeClient + " } }",
        "{ \"responsePath\": \"\", \"client\": { " + completeClient + " } }",
        "{ \"responsePath\": 17, \"client\": { " + completeClient + " } }",
        "{ \"responsePath\": { \"url\": \"https://auth.example.com/r\" }, \"client\": { " + completeClient + " } }",
        juce::JSON::toString (challengeJson ("\"proofSalt\": \"cd34\", \"salt\": \"ef56\"")),
        juce::JSON::toString (challengeJson ("\"proof\": \"\", \"proofSalt\": \"cd34\", \"salt\": \"ef56\"")),
        juce::JSON::toString (challengeJson ("\"proof\": 12, \"proofSalt\": \"cd34\", \"salt\": \"ef56\"")),
        juce::JSON::toString (challengeJson ("\"proof\": \"ab12\", \"salt\": \"ef56\"")),
        juce::JSON::toString (challengeJson ("\"proof\": \"ab12\", \"proofSalt\": true, \"salt\": \"ef56\"")),
        juce::JSON::toString (challengeJson ("\"proof\": \"ab12\", \"proofSalt\": \"cd34\"")),
        juce::JSON::toString (challengeJson ("\"proof\": \"ab12\", \"proofSalt\": \"cd34\", \"salt\": \"\"")),
        juce::JSON::toString (challengeJson ("\"proof\": \"ab12\", \"proofSalt\": \"cd34\", \"salt\": null")),
        juce::JSON::toString (challengeJson ("\"proof\": \"ab12\", \"proofSalt\": \"cd34\", \"salt\": [ \"ef56\" ]")),
    };

    for (const auto& text : malformed)
    {
        SCOPED_TRACE (text);
        const auto result = ClientTokenGenerationChallenge::fromJson (juce::JSON::parse (text));
        ASSERT_FALSE (result.isOk());
        EXPECT_EQ (result.getError().kind, Cloud::Error::Kind::parse);
        EXPECT_EQ (result.getError().description(), "Couldn't parse client token creation response");
    }
}

TEST (ClientTokenGenerationChallenge, IsValidOnlyForTheExactLowerCaseDigestOfSecretAndProofSalt)
{
    ClientTokenGenerationChallenge challenge;
    challenge.proofSalt = "5a17c0ffee";
    const auto& secret = LoopbackCloudService::clientSecret();
    challenge.proof = LoopbackCloudService::digestOfHex (secret + "5a17c0ffee");

    EXPECT_TRUE (challenge.isValid (secret));
    EXPECT_FALSE (challenge.isValid (secret.substr (2)));

    auto upperCase = challenge;
    upperCase.proof = upperCase.proof.toUpperCase();
    EXPECT_FALSE (upperCase.isValid (secret));

    auto otherSalt = challenge;
    otherSalt.proofSalt = "5a17c0ffef";
    EXPECT_FALSE (otherSalt.isValid (secret));

    auto empty = challenge;
    empty.proof = {};
    EXPECT_FALSE (empty.isValid (secret));
}

/** Runs each case in a chosen time zone, so that the report's local times are known. */
class UpdateNotifyText : public TimeZoneFixture
{
protected:
    static Cloud::UpdateNotify report (bool success)
    {
        UuidData id;
        id.bytes = { 0x01, 0x23, 0x45, 0x67, 0x89, 0xab };

        return { id, "harvellon", "kestrova", "kestrovalx",
                 Cloud::SemanticVersion (2, 1, 0), Cloud::SemanticVersion (2, 0, 1),
                 juce::Time (2026, 9, 1, 12, 30, 5, 250, false),
                 juce::Time (2026, 9, 1, 12, 31, 40, 0, false),
                 success };
    }
};

TEST_F (UpdateNotifyText, IsTheMultiLineJsonInTheServicesKeyOrder)
{
    useZone ("UTC0");

    EXPECT_EQ (report (true).json,
               "{\r\n"
               "  \"brand\": \"harvellon\",\r\n"
               "  \"device\": {\r\n"
               "    \"id\": \"0123456789AB\",\r\n"
               "    \"version\": \"2.0.1\"\r\n"
               "  },\r\n"
               "  \"family\": \"kestrova\",\r\n"
               "  \"model\": \"kestrovalx\",\r\n"
               "  \"result\": \"SUCCESS\",\r\n"
               "  \"time\": {\r\n"
               "    \"end\": \"2026-10-01T12:31:40.000Z\",\r\n"
               "    \"start\": \"2026-10-01T12:30:05.250Z\"\r\n"
               "  },\r\n"
               "  \"version\": \"2.1.0\"\r\n"
               "}");
}

TEST_F (UpdateNotifyText, ReportsAFailureAsErrorAndLocalTimesWithTheirOffset)
{
    useZone ("KST-5:30");

    const auto json = report (false).json;

    EXPECT_TRUE (json.contains ("\r\n  \"result\": \"ERROR\",\r\n")) << json;
    EXPECT_TRUE (json.contains ("\r\n    \"end\": \"2026-10-01T18:01:40.000+05:30\",\r\n"
                                "    \"start\": \"2026-10-01T18:00:05.250+05:30\"\r\n")) << json;
}

TEST_F (UpdateNotifyText, WritesAnUnsetDeviceAsTwelveZerosAndUnknownVersionsAsZeros)
{
    useZone ("UTC0");

    const Cloud::UpdateNotify blank (UuidData(), "harvellon", "kestrova", "kestrovalx", {}, {},
                                     juce::Time (0), juce::Time (0), true);

    EXPECT_TRUE (blank.json.contains ("  \"device\": {\r\n    \"id\": \"000000000000\",\r\n    \"version\": \"0.0.0\"\r\n  },\r\n"))
        << blank.json;
    EXPECT_TRUE (blank.json.endsWith ("  \"version\": \"0.0.0\"\r\n}"));
    EXPECT_TRUE (blank.json.contains ("\"start\": \"1970-01-01T00:00:00.000Z\""));
}
