#include "Cloud/CloudInterface.h"
#include "Support/FirmwareRecordJson.h"
#include "Support/LoopbackCloudService.h"
#include "Support/RawRequestRecorder.h"
#include "Support/ScopedServiceAddress.h"

#include <gtest/gtest.h>

using Endpoint = LoopbackCloudService::Endpoint;
using Kind = Cloud::Error::Kind;

class FirmwareListRequest : public ::testing::Test
{
protected:
    Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error> fetch()
    {
        return Cloud::Interface::availableFirmwareList (service.token());
    }

    void expectFailure (Kind kind, const juce::String& description)
    {
        const auto result = fetch();
        ASSERT_FALSE (result.isOk());
        EXPECT_EQ (result.getError().kind, kind);
        EXPECT_EQ (result.getError().description(), description);
    }

    LoopbackCloudService service;
    Cloud::ScopedServiceAddress serviceAddress { service.baseURL() };
};

TEST_F (FirmwareListRequest, GetsTheModelsListWithTheBearerTokenAndKeepsItsOrder)
{
    service.setFirmwareList ("[" + firmwareRecordJson ("1.6.0") + ", " + firmwareRecordJson ("1.10.2") + "]");

    const auto result = fetch();
    ASSERT_TRUE (result.isOk()) << result.getError().description();

    const auto& records = result.getResult();
    ASSERT_EQ (records.size(), 2u);
    EXPECT_EQ (records[0].version.toString(), "1.6.0");
    EXPECT_EQ (records[1].version.toString(), "1.10.2");
    EXPECT_EQ (records[1].binary.toString (true), "https://files.example.com/lx/1.10.2.syx");
    EXPECT_EQ (records[1].bytes, 34800);
    EXPECT_EQ (records[1].notes, "Release 1.10.2");

    const auto requests = service.requests();
    ASSERT_EQ (requests.size(), 1u);
    EXPECT_EQ (requests[0].method, "GET");
    EXPECT_EQ (requests[0].target, "/api/v1/firmware/harvellon/kestrova/kestrovalx");
    EXPECT_EQ (requests[0].headerCount ("Authorization"), 1u);
    EXPECT_EQ (requests[0].header ("Authorization"), "Bearer " + service.token());
    EXPECT_EQ (requests[0].body, "");
}

TEST_F (FirmwareListRequest, AnEmptyTokenIsSentAsIs)
{
    RawRequestRecorder recorder (service.baseURL().getPort());
    const Cloud::ScopedServiceAddress throughTheRecorder (recorder.baseURL());

    const auto result = Cloud::Interface::availableFirmwareList ({});
    ASSERT_FALSE (result.isOk());
    EXPECT_EQ (result.getError().description(), "Unauthorized");

    const auto requests = service.requests();
    ASSERT_EQ (requests.size(), 1u);
    EXPECT_EQ (recorder.headerLines ("/api/v1/firmware/harvellon/kestrova/kestrovalx", "Authorization"),
               std::vector<std::string> { "Authorization: Bearer " });
}

TEST_F (FirmwareListRequest, AnEmptyArrayIsAnEmptyList)
{
    service.setFirmwareList ("[]");

    const auto result = fetch();
    ASSERT_TRUE (result.isOk()) << result.getError().description();
    EXPECT_TRUE (result.getResult().empty());
}

TEST_F (FirmwareListRequest, ABodyThatIsNotAnArrayIsAParseError)
{
    for (const auto* body : { "{}", "not json", "", R"({"firmware": []})" })
    {
        SCOPED_TRACE (body);
        service.setFirmwareList (body);
        expectFailure (Kind::parse, "Couldn't parse firmware list");
    }
}

TEST_F (FirmwareListRequest, AnUnsuccessfulStatusIsAnHttpStatusErrorEvenInsideTheTwoHundreds)
{
    service.answerWith (Endpoint::firmwareList, { 209, "[]" });
    expectFailure (Kind::httpStatus, "");

    service.answerWith (Endpoint::firmwareList, { 500, "[]" });
    expectFailure (Kind::httpStatus, "Internal Server Error");
}

TEST_F (FirmwareListRequest, ATokenTheServiceDoesNotKnowIsUnauthorized)
{
    const auto result = Cloud::Interface::availableFirmwareList ("stale");
    ASSERT_FALSE (result.isOk());
    EXPECT_EQ (result.getError().kind, Kind::httpStatus);
    EXPECT_EQ (result.getError().statusCode.code, 401);
    EXPECT_FALSE (result.getError().isAuthenticationError());
}

TEST_F (FirmwareListRequest, NoConnectionCouldNotConnect)
{
    const Cloud::ScopedServiceAddress nowhere { juce::URL ("http://127.0.0.1:1/api/v1/") };
    expectFailure (Kind::connection, "Could not connect");
}

TEST_F (FirmwareListRequest, ElementsThatAreNotRecordsAreSkipped)
{
    service.setFirmwareList ("[" + firmwareRecordJson ("1.0.0") + ", " + firmwareRecordJson ("1.1.0", false) + ", " + firmwareRecordJson ("1.2.0") + "]");

    const auto result = fetch();
    ASSERT_TRUE (result.isOk()) << result.getError().description();

    const auto& records = result.getResult();
    ASSERT_EQ (records.size(), 2u);
    EXPECT_EQ (records[0].version.toString(), "1.0.0");
    EXPECT_EQ (records[1].version.toString(), "1.2.0");
}
