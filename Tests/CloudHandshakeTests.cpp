#include "Cloud/CloudInterface.h"
#include "CloudServiceAddress.h"
#include "Support/LoopbackCloudService.h"
#include "Support/ScopedServiceAddress.h"

#include <gtest/gtest.h>

using Endpoint = LoopbackCloudService::Endpoint;
using Kind = Cloud::Error::Kind;

namespace
{
    // Nothing listens on a privileged port of the loopback interface here.
    const juce::String refusingAddress = "http://127.0.0.1:1/";
}

class CloudHandshake : public ::testing::Test
{
protected:
    static Cloud::Result<juce::String, Cloud::Error> authenticate (const std::string& secret = LoopbackCloudService::clientSecret())
    {
        return Cloud::Interface::authenticate (LoopbackCloudService::clientId, secret);
    }

    void expectFailure (Kind kind, const juce::String& description, size_t requestsSent)
    {
        const auto result = authenticate();
        ASSERT_FALSE (result.isOk()) << result.getResult();
        EXPECT_EQ (result.getError().kind, kind);
        EXPECT_EQ (result.getError().description(), description);
        EXPECT_EQ (service.requests().size(), requestsSent);
    }

    /** Makes every later challenge go through an edit of one of the "client" values. */
    void editClientValue (const char* key, std::function<juce::var (const juce::var&)> change)
    {
        service.editChallenge ([key, change] (juce::var& challenge)
                               {
                                   auto* client = challenge["client"].getDynamicObject();
                                   client->setProperty (key, change (client->getProperty (key)));
                               });
    }

    LoopbackCloudService service;
    Cloud::ScopedServiceAddress serviceAddress { service.baseURL() };
};

TEST (CloudBaseAddress, IsTheCompiledInHttpsApiRoot)
{
    const auto& base = Cloud::Interface::baseURL;

    EXPECT_EQ (base.toString (true), KESTROVA_CLOUD_URL);
    EXPECT_TRUE (base.toString (true).startsWith ("https://"));
    EXPECT_TRUE (base.toString (true).endsWith ("/api/v1/"));
    EXPECT_EQ (base.getChildURL ("auth/tokens").toString (true), juce::String (KESTROVA_CLOUD_URL) + "auth/tokens");
}

TEST_F (CloudHandshake, SendsTheClientThenItsResponseAndYieldsTheToken)
{
    juce::String salt;
    service.editChallenge ([&salt] (juce::var& challenge) { salt = challenge["client"]["salt"].toString(); });

    const auto result = authenticate();
    ASSERT_TRUE (result.isOk()) << result.getError().description();
    EXPECT_EQ (result.getResult(), juce::String (service.token()));

    // Read after the record, whose lock the service held while it made the edit.
    const auto requests = service.requests();
    ASSERT_EQ (requests.size(), 2u);

    const auto& challenge = requests[0];
    EXPECT_EQ (challenge.method, "POST");
    EXPECT_EQ (challenge.target, "/api/v1/auth/tokens");
    EXPECT_EQ (challenge.body, "{\r\n  \"client\": \"" + std::string (LoopbackCloudService::clientId) + "\"\r\n}");
    EXPECT_EQ (challenge.header ("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ (challenge.headerCount ("Authorization"), 0u);

    const auto expectedResponse = LoopbackCloudService::digestOfHex (LoopbackCloudService::clientSecret() + salt.toStdString());
    const auto& response = requests[1];
    EXPECT_EQ (response.method, "POST");
    EXPECT_EQ (response.target, "/api/v1/auth/tokens/1/response");
    EXPECT_EQ (response.body, "{\r\n  \"clientResponse\": \"" + expectedResponse + "\"\r\n}");
    EXPECT_EQ (response.header ("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ (response.headerCount ("Authorization"), 0u);
}

TEST_F (CloudHandshake, PostsTheResponseToTheWholeAddressTheServiceNamed)
{
    service.editChallenge ([] (juce::var& challenge)
                           {
                               challenge.getDynamicObject()->setProperty ("responsePath", challenge["responsePath"].toString() + "?attempt=1&via=%2Fapi");
                           });

    const auto result = authenticate();
    ASSERT_TRUE (result.isOk()) << result.getError().description();

    const auto requests = service.requests();
    ASSERT_EQ (requests.size(), 2u);
    EXPECT_EQ (requests[1].target, "/api/v1/auth/tokens/1/response?attempt=1&via=%2Fapi");
    EXPECT_TRUE (juce::String (requests[1].body).startsWith ("{\r\n  \"clientResponse\": \""));
}

TEST_F (CloudHandshake, NoConnectionForTheChallengeCouldNotConnect)
{
    const Cloud::ScopedServiceAddress nowhere { juce::URL (refusingAddress + "api/v1/") };
    expectFailure (Kind::connection, "Could not connect", 0);
}

TEST_F (CloudHandshake, AnUnsuccessfulChallengeStatusIsAnHttpStatusError)
{
    const std::pair<int, const char*> statuses[] = { { 404, "Not Found" }, { 503, "Service Unavailable" }, { 209, "" } };

    for (const auto& [status, description] : statuses)
    {
        SCOPED_TRACE (status);
        service.answerWith (Endpoint::challenge, { status, "{}" });

        const auto result = authenticate();
        ASSERT_FALSE (result.isOk());
        EXPECT_EQ (result.getError().kind, Kind::httpStatus);
        EXPECT_EQ (result.getError().statusCode.code, status);
        EXPECT_EQ (result.getError().description(), description);
    }

    EXPECT_EQ (service.requests().size(), 3u) << "no response is sent after a failed challenge";
}

TEST_F (CloudHandshake, AChallengeThatCannotBeReadIsAParseError)
{
    // Every other malformed challenge is the challenge record's own test.
    const std::function<void()> breakages[] = {
        [this] { service.answerWith (Endpoint::challenge, { 200, "<html>busy</html>", "text/html" }); },
        [this] { editClientValue ("salt", [] (const juce::var&) { return juce::var(); }); },
        [this] { editClientValue ("salt", [] (const juce::var&) { return juce::var (""); }); },
        [this] { service.editChallenge ([] (juce::var& c) { c.getDynamicObject()->setProperty ("responsePath", 8080); }); },
    };

    for (size_t i = 0; i < std::size (breakages); ++i)
    {
        SCOPED_TRACE (i);
        breakages[i]();
        expectFailure (Kind::parse, "Couldn't parse client token creation response", i + 1);
    }
}

TEST_F (CloudHandshake, AServiceThatCannotProveItKnowsTheSecretNeverGetsTheResponse)
{
    // The right digest, but in capitals: the comparison is exact.
    editClientValue ("proof", [] (const juce::var& proof) { return juce::var (proof.toString().toUpperCase()); });
    expectFailure (Kind::serverAuthentication, "Could not authenticate server", 1);

    // The digest of another salt than the one it names.
    editClientValue ("proofSalt", [] (const juce::var& salt) { return juce::var (salt.toString() + "00"); });
    expectFailure (Kind::serverAuthentication, "Could not authenticate server", 2);

    // A client holding another secret does not recognise the service.
    service.editChallenge ({});
    auto otherSecret = LoopbackCloudService::clientSecret();
    otherSecret[0] = otherSecret[0] == '0' ? '1' : '0';

    const auto result = authenticate (otherSecret);
    ASSERT_FALSE (result.isOk());
    EXPECT_EQ (result.getError().kind, Kind::serverAuthentication);

    for (const auto& request : service.requests())
        EXPECT_EQ (request.target, "/api/v1/auth/tokens");
}

TEST_F (CloudHandshake, NoConnectionForTheResponseCouldNotConnect)
{
    service.editChallenge ([] (juce::var& c) { c.getDynamicObject()->setProperty ("responsePath", refusingAddress + "respond"); });
    expectFailure (Kind::connection, "Could not connect", 1);
}

TEST_F (CloudHandshake, TheTokenIsTakenFromTheBodyWhateverTheStatus)
{
    service.answerWith (Endpoint::clientResponse, { 401, R"({"token": "granted-anyway"})" });
    auto result = authenticate();
    ASSERT_TRUE (result.isOk()) << result.getError().description();
    EXPECT_EQ (result.getResult(), "granted-anyway");

    service.answerWith (Endpoint::clientResponse, { 200, R"({"token": ""})" });
    result = authenticate();
    ASSERT_TRUE (result.isOk()) << result.getError().description();
    EXPECT_EQ (result.getResult(), "");
}

TEST_F (CloudHandshake, ATokenAnswerWithoutATextTokenIsAParseError)
{
    const char* const bodies[] = { R"({"token": 12345})", R"({"token": null})", R"({"tokens": "abc"})",
                                   R"(["abc"])", "token=abc", "" };

    for (size_t i = 0; i < std::size (bodies); ++i)
    {
        SCOPED_TRACE (bodies[i]);
        service.answerWith (Endpoint::clientResponse, { 200, bodies[i] });
        expectFailure (Kind::parse, "Couldn't parse token response", 2 * (i + 1));
    }
}
