#include "Cloud/CloudUtilities.h"
#include "Support/CapturedStandardOutput.h"
#include "Support/CloudInterfaceFixture.h"
#include "Support/EndlessReplyService.h"
#include "Support/FirmwareRecordJson.h"

#include <gtest/gtest.h>

using Cloud::Utilities::maxReplyBytes;
using Cloud::Utilities::maxReplyNesting;

namespace
{
    /** The three answers that are parsed, and the error each gives when it cannot be. */
    enum class Step { challenge, clientResponse, firmwareList };

    struct ParsedStep
    {
        Step step;
        LoopbackCloudService::Endpoint endpoint;
        const char* parseError;
    };

    const ParsedStep parsedSteps[] = {
        { Step::challenge, LoopbackCloudService::Endpoint::challenge, "Couldn't parse client token creation response" },
        { Step::clientResponse, LoopbackCloudService::Endpoint::clientResponse, "Couldn't parse token response" },
        { Step::firmwareList, LoopbackCloudService::Endpoint::firmwareList, "Couldn't parse firmware list" },
    };

    /** Arrays inside arrays, as deep as asked. */
    std::string nestedArrays (int depth)
    {
        return std::string ((size_t) depth, '[') + std::string ((size_t) depth, ']');
    }

    juce::var nestedArrayValue (int depth)
    {
        juce::var value { juce::Array<juce::var>() };

        for (int level = 1; level < depth; ++level)
            value = juce::Array<juce::var> { value };

        return value;
    }

    /** More than the client may read plus what the sockets between it and the service hold. */
    constexpr size_t endlessLength = 128 * 1024 * 1024;
}

class HostileReply : public CloudInterfaceFixture
{
protected:
    /** Runs the handshake, or the list request with the service's token, and gives the
        description of its error, or "ok" and what it yielded. */
    std::string outcomeOf (Step step)
    {
        return outcomeOf (step, service);
    }

    /** The same against another service, which the requests must be pointed at. */
    static std::string outcomeOf (Step step, const LoopbackCloudService& at)
    {
        if (step == Step::firmwareList)
        {
            const auto result = Cloud::Interface::availableFirmwareList (at.token());
            return result.isOk() ? "ok, records: " + std::to_string (result.getResult().size())
                                 : result.getError().description().toStdString();
        }

        const auto result = Cloud::Interface::authenticate (LoopbackCloudService::clientId, LoopbackCloudService::clientSecret());
        return result.isOk() ? "ok, token: " + result.getResult().toStdString()
                             : result.getError().description().toStdString();
    }

    void pointAt (const juce::URL& apiRoot)
    {
        serviceAddress.reset();
        serviceAddress.emplace (apiRoot);
    }

    /** Waits for the endless service to end its one answer, and gives whether the client
        hung up before its end. */
    static bool cutOffEarly (const EndlessReplyService& endless)
    {
        EXPECT_TRUE (waitWithoutMessages ([&endless] { return endless.answersEnded() == 1; }));
        return endless.answersCutOff() == 1;
    }
};

TEST_F (HostileReply, FiftyThousandOpeningBracketsAreEachStepsParseError)
{
    for (const auto& parsed : parsedSteps)
    {
        SCOPED_TRACE (parsed.parseError);

        // A service of its own for each, as an answer given in place of its own stays.
        LoopbackCloudService hostile;
        pointAt (hostile.baseURL());
        hostile.answerWith (parsed.endpoint, { 200, std::string (50000, '[') });

        EXPECT_EQ (outcomeOf (parsed.step, hostile), parsed.parseError);
    }
}

TEST_F (HostileReply, FiftyThousandOpeningBracketsInTheListEndTheListRequestAsAParseError)
{
    // Through the interface, on the worker thread, whose stack the framework's parser overran.
    service.answerWith (Endpoint::firmwareList, { 200, std::string (50000, '[') });

    std::optional<Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error>> answer;
    interface->getAvailableFirmwareList ([&answer] (auto result) { answer = std::move (result); });
    ASSERT_TRUE (pumpUntil ([&answer] { return answer.has_value(); }));

    ASSERT_FALSE (answer->isOk());
    EXPECT_EQ (answer->getError().description(), "Couldn't parse firmware list");
}

TEST_F (HostileReply, AnAnswerNestedAsDeepAsTheLimitStillParses)
{
    service.editChallenge ([] (juce::var& challenge)
                           {
                               challenge.getDynamicObject()->setProperty ("padding", nestedArrayValue (maxReplyNesting - 1));
                           });
    EXPECT_EQ (outcomeOf (Step::challenge), "ok, token: " + service.token());
    service.editChallenge ({});

    service.answerWith (Endpoint::clientResponse, { 200, R"({"token": "abc", "padding": )" + nestedArrays (maxReplyNesting - 1) + "}" });
    EXPECT_EQ (outcomeOf (Step::clientResponse), "ok, token: abc");

    service.answerWith (Endpoint::firmwareList, { 200, "[" + firmwareRecordJson ("2.1.0") + ", " + nestedArrays (maxReplyNesting - 1) + "]" });
    EXPECT_EQ (outcomeOf (Step::firmwareList), "ok, records: 1");
}

TEST_F (HostileReply, AnAnswerNestedOneLevelDeeperIsEachStepsParseError)
{
    service.editChallenge ([] (juce::var& challenge)
                           {
                               challenge.getDynamicObject()->setProperty ("padding", nestedArrayValue (maxReplyNesting));
                           });
    EXPECT_EQ (outcomeOf (Step::challenge), parsedSteps[0].parseError);
    service.editChallenge ({});

    service.answerWith (Endpoint::clientResponse, { 200, R"({"token": "abc", "padding": )" + nestedArrays (maxReplyNesting) + "}" });
    EXPECT_EQ (outcomeOf (Step::clientResponse), parsedSteps[1].parseError);

    service.answerWith (Endpoint::firmwareList, { 200, "[" + firmwareRecordJson ("2.1.0") + ", " + nestedArrays (maxReplyNesting) + "]" });
    EXPECT_EQ (outcomeOf (Step::firmwareList), parsedSteps[2].parseError);
}

TEST_F (HostileReply, AListAsLongAsTheLimitStillParsesAndOneByteMoreIsAParseError)
{
    const auto list = [] (size_t length)
    {
        auto text = "[" + firmwareRecordJson ("2.1.0");
        text.resize (length - 1, ' ');
        return text + "]";
    };

    service.answerWith (Endpoint::firmwareList, { 200, list ((size_t) maxReplyBytes) });
    EXPECT_EQ (outcomeOf (Step::firmwareList), "ok, records: 1");

    service.answerWith (Endpoint::firmwareList, { 200, list ((size_t) maxReplyBytes + 1) });
    EXPECT_EQ (outcomeOf (Step::firmwareList), "Couldn't parse firmware list");
}

TEST_F (HostileReply, AChallengeThatNeverEndsIsAParseErrorWithoutReadingOn)
{
    EndlessReplyService endless ("[", endlessLength);
    pointAt (endless.baseURL());

    EXPECT_EQ (outcomeOf (Step::challenge), "Couldn't parse client token creation response");
    EXPECT_TRUE (cutOffEarly (endless));
}

TEST_F (HostileReply, ATokenAnswerThatNeverEndsIsAParseErrorWithoutReadingOn)
{
    EndlessReplyService endless ("{\"token\": \"abc\"", endlessLength);
    service.editChallenge ([&endless] (juce::var& challenge)
                           {
                               challenge.getDynamicObject()->setProperty ("responsePath", endless.address ("/respond"));
                           });

    EXPECT_EQ (outcomeOf (Step::clientResponse), "Couldn't parse token response");
    EXPECT_TRUE (cutOffEarly (endless));
}

TEST_F (HostileReply, AListThatNeverEndsIsAParseErrorWithoutReadingOn)
{
    EndlessReplyService endless ("[" + firmwareRecordJson ("2.1.0"), endlessLength);
    pointAt (endless.baseURL());

    EXPECT_EQ (outcomeOf (Step::firmwareList), "Couldn't parse firmware list");
    EXPECT_TRUE (cutOffEarly (endless));
}

TEST_F (HostileReply, AReportAnswerThatNeverEndsIsDroppedWithoutReadingOn)
{
    EndlessReplyService endless ("{", endlessLength);
    pointAt (endless.baseURL());

    CapturedStandardOutput output;
    interface->notifyServerOfFirmwareUpdate ({}, "harvellon", "kestrova", "kestrovalx", { 2, 1, 0 }, { 1, 6, 3 },
                                             juce::Time::getCurrentTime(), juce::Time::getCurrentTime(), true);
    // Reading as far as the limit takes some seconds in a sanitizer build.
    const auto ended = pumpUntil ([this] { return Inspector::countRunningWorkers (*interface) == 0; }, 60000);
    const auto written = output.take();
    ASSERT_TRUE (ended);

    // A successful status: the answer is read, as far as the limit, and nothing is written.
    EXPECT_EQ (written, "");
    EXPECT_TRUE (cutOffEarly (endless));
}
