#pragma once

#include "CloudError.h"
#include "Result.h"
#include "SemanticVersion.h"
#include "SynthId.h"

namespace Cloud
{

/** The service's answer to a token request: where to send the client's response,
    and the proof that the service knows the client secret. */
struct ClientTokenGenerationChallenge
{
    /** Needs "responsePath" and the object "client" with "proof", "proofSalt" and "salt",
        all non-empty strings. */
    static Result<ClientTokenGenerationChallenge, Error> fromJson (const juce::var& json);

    /** True when the service's proof is the digest of the secret followed by the proof salt. */
    bool isValid (const juce::String& clientSecret) const;

    juce::URL responsePath;
    juce::String proof;
    juce::String proofSalt;
    juce::String salt;
};

/** The body of the report sent to the service after each firmware update. */
struct UpdateNotify
{
    UpdateNotify (UuidData deviceId,
                  const juce::String& brand,
                  const juce::String& family,
                  const juce::String& model,
                  const SemanticVersion& firmwareVersion,
                  const SemanticVersion& deviceVersion,
                  juce::Time start,
                  juce::Time end,
                  bool success);

    const juce::String json;
};

} // namespace Cloud
