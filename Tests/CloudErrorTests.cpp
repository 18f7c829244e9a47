#include "Cloud/CloudError.h"
#include "Cloud/RemoteFirmware.h"
#include "Cloud/Result.h"

#include <gtest/gtest.h>

using Cloud::Error;

TEST (CloudError, EachFactoryGivesItsKindStatusAndText)
{
    struct Row
    {
        Error error;
        Error::Kind kind;
        const char* message;
        const char* description;
        bool authentication;
    };

    const Row rows[] = {
        { Error::noError,                      Error::Kind::none,                 "No Error",                      "No Error",                      false },
        { Error::withConnectionError(),        Error::Kind::connection,           "Could not connect",             "Could not connect",             false },
        { Error::withParseError ("bad list"),  Error::Kind::parse,                "bad list",                      "bad list",                      false },
        { Error::withParseError ({}),          Error::Kind::parse,                "",                              "",                              false },
        { Error::withServerAuthentication(),   Error::Kind::serverAuthentication, "Could not authenticate server", "Could not authenticate server", true },
        { Error (Cloud::StatusCode (500)),     Error::Kind::httpStatus,           "",                              "Internal Server Error",         false },
        { Error (Cloud::StatusCode (401)),     Error::Kind::httpStatus,           "",                              "Unauthorized",                  false },
        { Error (Cloud::StatusCode (403)),     Error::Kind::httpStatus,           "",                              "Forbidden",                     false },
        { Error (Cloud::StatusCode (299)),     Error::Kind::httpStatus,           "",                              "",                              false },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.description);
        EXPECT_EQ (row.error.kind, row.kind);
        EXPECT_EQ (row.error.message, juce::String (row.message));
        EXPECT_EQ (row.error.description(), juce::String (row.description));
        EXPECT_EQ (row.error.isAuthenticationError(), row.authentication);
    }

    EXPECT_EQ (Error (Cloud::StatusCode (418)).statusCode.code, 418);
    EXPECT_EQ (Error::withConnectionError().statusCode.code, 0);
    EXPECT_EQ (Error::noError.statusCode.code, 0);
}

TEST (CloudError, KindsHaveTheirWireValues)
{
    EXPECT_EQ ((int) Error::Kind::none, 0);
    EXPECT_EQ ((int) Error::Kind::connection, 1);
    EXPECT_EQ ((int) Error::Kind::httpStatus, 2);
    EXPECT_EQ ((int) Error::Kind::parse, 3);
    EXPECT_EQ ((int) Error::Kind::serverAuthentication, 4);
}

using StringResult = Cloud::Result<juce::String, Error>;

TEST (Result, HoldsEitherSideAndRefusesToGiveTheOther)
{
    const auto value = StringResult::withResult (juce::String ("token"));
    ASSERT_TRUE (value.isOk());
    EXPECT_EQ (value.getResult(), "token");

    try
    {
        value.getError();
        FAIL() << "getError on a value must throw";
    }
    catch (const std::logic_error& e)
    {
        EXPECT_STREQ (e.what(), "Attempting to access unavailable error in Result");
    }

    const auto failure = StringResult::withError (Error::withParseError ("Couldn't parse token response"));
    ASSERT_FALSE (failure.isOk());
    EXPECT_EQ (failure.getError().description(), "Couldn't parse token response");
    EXPECT_THROW (failure.getResult(), std::logic_error);
}

TEST (Result, AnEmptyTextIsStillAValue)
{
    const auto value = StringResult::withResult (juce::String());
    EXPECT_TRUE (value.isOk());
    EXPECT_TRUE (value.getResult().isEmpty());
}

TEST (Result, CopiesCarryTheHeldObjectAndLeaveTheSource)
{
    using ListResult = Cloud::Result<std::vector<Cloud::Remotefirmware>, Error>;

    std::vector<Cloud::Remotefirmware> records (3);
    records[0].version = Cloud::SemanticVersion (1, 0, 0);
    records[1].version = Cloud::SemanticVersion (1, 1, 0);
    records[2].binary = juce::URL ("https://example.com/fw.syx");

    const auto source = ListResult::withResult (records);
    const auto copy = source;

    ASSERT_TRUE (copy.isOk());
    ASSERT_EQ (copy.getResult().size(), 3u);
    ASSERT_EQ (source.getResult().size(), 3u);
    EXPECT_EQ (copy.getResult()[1].version.toString(), "1.1.0");
    EXPECT_EQ (copy.getResult()[2].binary.toString (false), "https://example.com/fw.syx");

    const auto failure = ListResult::withError (Error (Cloud::StatusCode (503)));
    const auto failureCopy = failure;
    ASSERT_FALSE (failureCopy.isOk());
    EXPECT_EQ (failureCopy.getError().kind, Error::Kind::httpStatus);
    EXPECT_EQ (failureCopy.getError().statusCode.code, 503);
    EXPECT_EQ (failureCopy.getError().description(), "Service Unavailable");
}

TEST (Result, MovesAnRvalueIn)
{
    std::vector<Cloud::Remotefirmware> records (2);
    const auto* storage = records.data();

    const auto result = Cloud::Result<std::vector<Cloud::Remotefirmware>, Error>::withResult (std::move (records));
    EXPECT_EQ (result.getResult().data(), storage);
}
