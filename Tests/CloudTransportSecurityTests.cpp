#include "Cloud/CloudInterface.h"
#include "Cloud/TempFileDownloadTask.h"
#include "Support/LoopbackCloudService.h"
#include "Support/MessageThreadFixture.h"
#include "Support/ScopedServiceAddress.h"

#include <httplib.h>

#include <gtest/gtest.h>

using Kind = Cloud::Error::Kind;

/** A service over HTTPS whose certificate no authority vouches for: every request must
    fail to connect, whatever the service would have answered. */
class UntrustedCertificate : public MessageThreadFixture
{
protected:
    LoopbackCloudService service { LoopbackCloudService::Transport::https };
    Cloud::ScopedServiceAddress serviceAddress { service.baseURL() };
};

TEST_F (UntrustedCertificate, TheServiceAnswersAClientThatDoesNotCheck)
{
    // Shows that only trust stands between the client and an answer: the certificate
    // names 127.0.0.1 and the service works.
    httplib::SSLClient careless ("127.0.0.1", service.port());
    careless.enable_server_certificate_verification (false);

    const auto answer = careless.Get (LoopbackCloudService::firmwareListPath,
                                      { { "Authorization", "Bearer " + service.token() } });
    ASSERT_TRUE (answer);
    EXPECT_EQ (answer->status, 200);
    EXPECT_EQ (service.requests().size(), 1u);
}

TEST_F (UntrustedCertificate, TheHandshakeCouldNotConnect)
{
    const auto result = Cloud::Interface::authenticate (LoopbackCloudService::clientId, LoopbackCloudService::clientSecret());

    ASSERT_FALSE (result.isOk()) << result.getResult();
    EXPECT_EQ (result.getError().kind, Kind::connection);
    EXPECT_EQ (result.getError().description(), "Could not connect");
    EXPECT_TRUE (service.requests().empty());
}

TEST_F (UntrustedCertificate, TheFirmwareListCouldNotConnect)
{
    const auto result = Cloud::Interface::availableFirmwareList (service.token());

    ASSERT_FALSE (result.isOk());
    EXPECT_EQ (result.getError().kind, Kind::connection);
    EXPECT_TRUE (service.requests().empty());
}

TEST_F (UntrustedCertificate, ADownloadCannotStart)
{
    service.serveFile ("/files/lx.syx", std::string (1000, 'x'));

    juce::StringArray errors;
    bool completed = false;
    TempFileDownloadTask download (juce::URL (service.address ("/files/lx.syx")),
                                   "Authorization: Bearer " + juce::String (service.token()),
                                   [&completed] (auto, auto) { completed = true; },
                                   [&errors] (float, Cloud::Error* error) { if (error != nullptr) errors.add (error->description()); });

    EXPECT_EQ (errors.joinIntoString (" | "), "Could not connect");

    bool drained = false;
    juce::MessageManager::callAsync ([&drained] { drained = true; });
    ASSERT_TRUE (pumpUntil ([&drained] { return drained; }));

    EXPECT_FALSE (completed);
    EXPECT_FALSE (download.isCompleted());
    EXPECT_TRUE (service.requests().empty());
}
