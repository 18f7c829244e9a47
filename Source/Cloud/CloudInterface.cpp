#include "CloudInterface.h"
#include "CloudStructs.h"
#include "CloudUtilities.h"

namespace Cloud
{

const juce::URL Interface::baseURL { KESTROVA_CLOUD_URL };

std::atomic<const juce::URL*> Interface::serviceAddressOverride { nullptr };

const juce::URL& Interface::serviceAddress()
{
    if (auto* address = serviceAddressOverride.load())
        return *address;

    return baseURL;
}

namespace
{
    std::unique_ptr<juce::InputStream> openStream (const juce::URL& address, bool post, const juce::String& extraHeaders)
    {
        using Handling = juce::URL::ParameterHandling;

        return address.createInputStream (juce::URL::InputStreamOptions (post ? Handling::inPostData : Handling::inAddress)
                                              .withExtraHeaders (extraHeaders)
                                              .withConnectionTimeoutMs (0)
                                              .withNumRedirectsToFollow (5));
    }

    StatusCode statusOf (juce::InputStream& stream)
    {
        // Only a web address gives a web stream; anything else has no status to show.
        if (auto* web = dynamic_cast<juce::WebInputStream*> (&stream))
            return web->getStatusCode();

        return 0;
    }

    Result<ClientTokenGenerationChallenge, Error> requestChallenge (const juce::URL& service, const juce::String& clientId)
    {
        using ChallengeResult = Result<ClientTokenGenerationChallenge, Error>;

        const auto address = service.getChildURL ("auth/tokens").withPOSTData (Utilities::jsonFrom ("client", clientId));
        const auto stream = openStream (address, true, {});

        if (stream == nullptr)
            return ChallengeResult::withError (Error::withConnectionError());

        const auto status = statusOf (*stream);

        if (! status.successful())
            return ChallengeResult::withError (status);

        return ClientTokenGenerationChallenge::fromJson (juce::JSON::parse (*stream));
    }
}

Result<juce::String, Error> Interface::authenticate (const juce::String& clientId, juce::String clientSecret)
{
    using TokenResult = Result<juce::String, Error>;

    const auto challengeAnswer = requestChallenge (serviceAddress(), clientId);

    if (! challengeAnswer.isOk())
        return TokenResult::withError (challengeAnswer.getError());

    const auto& challenge = challengeAnswer.getResult();

    // A service that cannot show it knows the secret never gets the client's response.
    if (! challenge.isValid (clientSecret))
        return TokenResult::withError (Error::withServerAuthentication());

    const auto clientResponse = Utilities::sha256OfHex (clientSecret + challenge.salt);
    const auto stream = openStream (challenge.responsePath.withPOSTData (Utilities::jsonFrom ("clientResponse", clientResponse)),
                                    true, {});

    if (stream == nullptr)
        return TokenResult::withError (Error::withConnectionError());

    // The status is not judged: the body alone says whether a token was granted.
    const auto token = juce::JSON::parse (*stream)["token"];

    if (! token.isString())
        return TokenResult::withError (Error::withParseError ("Couldn't parse token response"));

    return TokenResult::withResult (token.toString());
}

Result<std::vector<Remotefirmware>, Error> Interface::availableFirmwareList (const juce::String& token)
{
    using ListResult = Result<std::vector<Remotefirmware>, Error>;

    const auto address = serviceAddress().getChildURL (juce::String ("firmware/") + "harvellon/kestrova/kestrovalx");
    const auto stream = openStream (address, false, "Authorization: Bearer " + token);

    if (stream == nullptr)
        return ListResult::withError (Error::withConnectionError());

    const auto status = statusOf (*stream);

    if (! status.successful())
        return ListResult::withError (status);

    const auto json = juce::JSON::parse (stream->readEntireStreamAsString());

    if (! json.isArray())
        return ListResult::withError (Error::withParseError ("Couldn't parse firmware list"));

    std::vector<Remotefirmware> records;

    for (const auto& element : *json.getArray())
    {
        const auto record = Remotefirmware::fromJson (element);

        if (record.isOk())
            records.push_back (record.getResult());
    }

    return ListResult::withResult (std::move (records));
}

} // namespace Cloud
