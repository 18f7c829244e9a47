#include "CloudStructs.h"
#include "CloudUtilities.h"

#include <cstdlib>

namespace Cloud
{

Result<ClientTokenGenerationChallenge, Error> ClientTokenGenerationChallenge::fromJson (const juce::var& json)
{
    using ChallengeResult = Result<ClientTokenGenerationChallenge, Error>;

    const auto& client = json["client"];
    const juce::var* const values[] = { &json["responsePath"], &client["proof"], &client["proofSalt"], &client["salt"] };

    // juce::var's loose equality makes an empty text count as missing too.
    for (auto* value : values)
        if (*value == juce::var() || ! value->isString())
            return ChallengeResult::withError (Error::withParseError ("Couldn't parse client token creation response"));

    ClientTokenGenerationChallenge challenge;

    // Taken whole and unparsed: a query in the address must stay in the address
    // rather than be moved into the body of the POST that goes there.
    challenge.responsePath = juce::URL::createWithoutParsing (values[0]->toString());
    challenge.proof = values[1]->toString();
    challenge.proofSalt = values[2]->toString();
    challenge.salt = values[3]->toString();

    return ChallengeResult::withResult (challenge);
}

bool ClientTokenGenerationChallenge::isValid (const juce::String& clientSecret) const
{
    return Utilities::sha256OfHex (clientSecret + proofSalt) == proof;
}

namespace
{
    /** The time as juce::Time::toISO8601 (true) writes it, but with the offset's own sign:
        JUCE 7.0.5 prints the offset's hours with "%+03d", so an offset between -00:59 and
        -00:01 comes out with a "+". */
    juce::String iso8601 (juce::Time time)
    {
        const auto offsetSeconds = time.getUTCOffsetSeconds();
        const auto dateAndTime = time.toISO8601 (true).dropLastCharacters (time.getUTCOffsetString (true).length());

        if (offsetSeconds == 0)
            return dateAndTime + "Z";

        const auto minutes = std::abs (offsetSeconds) / 60;
        return dateAndTime + juce::String::formatted ("%c%02d:%02d", offsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
    }

    juce::String reportJson (UuidData deviceId,
                             const juce::String& brand,
                             const juce::String& family,
                             const juce::String& model,
                             const SemanticVersion& firmwareVersion,
                             const SemanticVersion& deviceVersion,
                             juce::Time start,
                             juce::Time end,
                             bool success)
    {
        juce::DynamicObject::Ptr device = new juce::DynamicObject();
        device->setProperty ("id", Utilities::hexFromBinaryData (deviceId.bytes.data(), deviceId.bytes.size()));
        device->setProperty ("version", deviceVersion.toString());

        juce::DynamicObject::Ptr time = new juce::DynamicObject();
        time->setProperty ("end", iso8601 (end));
        time->setProperty ("start", iso8601 (start));

        juce::DynamicObject::Ptr report = new juce::DynamicObject();
        report->setProperty ("brand", brand);
        report->setProperty ("device", device.get());
        report->setProperty ("family", family);
        report->setProperty ("model", model);
        report->setProperty ("result", success ? "SUCCESS" : "ERROR");
        report->setProperty ("time", time.get());
        report->setProperty ("version", firmwareVersion.toString());

        return juce::JSON::toString (juce::var (report.get()), false);
    }
}

UpdateNotify::UpdateNotify (UuidData deviceId,
                            const juce::String& brand,
                            const juce::String& family,
                            const juce::String& model,
                            const SemanticVersion& firmwareVersion,
                            const SemanticVersion& deviceVersion,
                            juce::Time start,
                            juce::Time end,
                            bool success)
    : json (reportJson (deviceId, brand, family, model, firmwareVersion, deviceVersion, start, end, success))
{
}

} // namespace Cloud
