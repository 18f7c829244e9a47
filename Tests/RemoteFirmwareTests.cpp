#include "Cloud/RemoteFirmware.h"

#include <gtest/gtest.h>

using Cloud::Remotefirmware;

namespace
{
    const char* const requiredKeys[] = { "brand", "family", "model", "version", "updatedAt",
                                         "createdAt", "binary", "md5", "bytes" };

    juce::DynamicObject::Ptr completeRecord()
    {
        juce::DynamicObject::Ptr o = new juce::DynamicObject();
        o->setProperty ("brand", "harvellon");
        o->setProperty ("family", "kestrova");
        o->setProperty ("model", "kestrovalx");
        o->setProperty ("version", "1.0.7");
        o->setProperty ("updatedAt", "2026-10-01T12:00:00Z");
        o->setProperty ("createdAt", "2026-09-30T08:15:00Z");
        o->setProperty ("binary", "https://files.example.com/lx/1.0.7.syx");
        o->setProperty ("md5", "9e107d9d372bb6826bd81d3542a419d6");
        o->setProperty ("bytes", "1234");
        o->setProperty ("notes", "Fixes the arpeggiator.");
        return o;
    }

    juce::var with (const char* key, const juce::var& value)
    {
        auto o = completeRecord();
        o->setProperty (key, value);
        return juce::var (o.get());
    }

    juce::var without (const char* key)
    {
        auto o = completeRecord();
        o->removeProperty (key);
        return juce::var (o.get());
    }

    juce::var parse (const char* json) { return juce::JSON::parse (juce::String (json)); }

    void expectFailure (const juce::var& json)
    {
        const auto result = Remotefirmware::fromJson (json);
        ASSERT_FALSE (result.isOk());
        EXPECT_EQ (result.getError(), "Couldn't parse firmware update metadata");
    }

    Remotefirmware expectRecord (const juce::var& json)
    {
        const auto result = Remotefirmware::fromJson (json);
        EXPECT_TRUE (result.isOk());
        return result.isOk() ? result.getResult() : Remotefirmware();
    }
}

TEST (RemoteFirmware, ACompleteElementFillsEveryMember)
{
    const auto r = expectRecord (juce::var (completeRecord().get()));
    EXPECT_EQ (r.brand, "harvellon");
    EXPECT_EQ (r.family, "kestrova");
    EXPECT_EQ (r.model, "kestrovalx");
    EXPECT_EQ (r.version.toString(), "1.0.7");
    EXPECT_EQ (r.updatedAt, "2026-10-01T12:00:00Z");
    EXPECT_EQ (r.createdAt, "2026-09-30T08:15:00Z");
    EXPECT_EQ (r.binary.toString (true), "https://files.example.com/lx/1.0.7.syx");
    EXPECT_EQ (r.md5, "9e107d9d372bb6826bd81d3542a419d6");
    EXPECT_EQ (r.bytes, 1234);
    EXPECT_EQ (r.notes, "Fixes the arpeggiator.");
}

TEST (RemoteFirmware, ADefaultRecordIsEmpty)
{
    const Remotefirmware r;
    EXPECT_TRUE (r.brand.isEmpty() && r.md5.isEmpty() && r.notes.isEmpty());
    EXPECT_EQ (r.version.toString(), "0.0.0");
    EXPECT_TRUE (r.binary.isEmpty());
    EXPECT_EQ (r.bytes, 0);
}

TEST (RemoteFirmware, EachRequiredKeyAbsentOrNullFails)
{
    for (auto* key : requiredKeys)
    {
        SCOPED_TRACE (key);
        expectFailure (without (key));
        expectFailure (with (key, juce::var()));
    }
}

TEST (RemoteFirmware, PresenceFollowsLooseEqualityWithVoid)
{
    struct Row
    {
        const char* description;
        juce::var value;
        bool missing;
    };

    juce::Array<juce::var> emptyArray;
    const Row rows[] = {
        { "empty string",        juce::var (""),                               true },
        { "string 0",            juce::var ("0"),                              false },
        { "single blank",        juce::var (" "),                              false },
        { "int 0",               juce::var (0),                                true },
        { "int64 0",             juce::var ((juce::int64) 0),                  true },
        { "int 1",               juce::var (1),                                false },
        { "double 0.0",          juce::var (0.0),                              true },
        { "double -0.0",         juce::var (-0.0),                             true },
        { "double 1e-16",        juce::var (1.0e-16),                          true },
        { "double 3e-16",        juce::var (3.0e-16),                          false },
        { "false",               juce::var (false),                            true },
        { "true",                juce::var (true),                             false },
        { "empty array",         juce::var (emptyArray),                       false },
        { "empty object",        juce::var (new juce::DynamicObject()),        false },
    };

    for (auto* key : requiredKeys)
    {
        for (const auto& row : rows)
        {
            SCOPED_TRACE (juce::String (key) + " = " + row.description);
            EXPECT_EQ (Remotefirmware::fromJson (with (key, row.value)).isOk(), ! row.missing);
        }
    }
}

TEST (RemoteFirmware, ValuesOfOtherTypesGiveTheirTextForm)
{
    const auto r = expectRecord (parse (R"({"brand": true, "family": 7, "model": [], "version": 2,
        "updatedAt": 1.5, "createdAt": "x", "binary": "https://h/f", "md5": {}, "bytes": "1"})"));

    EXPECT_EQ (r.brand, "1");
    EXPECT_EQ (r.family, "7");
    EXPECT_EQ (r.version.toString(), "2.0.0");
    EXPECT_EQ (r.updatedAt, "1.5");
}

TEST (RemoteFirmware, VersionTextIsParsedLeniently)
{
    EXPECT_EQ (expectRecord (with ("version", "1.2")).version.toString(), "1.2.0");
    EXPECT_EQ (expectRecord (with ("version", "release")).version.toString(), "0.0.0");
}

TEST (RemoteFirmware, BytesAreReadAsASigned32BitInteger)
{
    struct Row
    {
        const char* json;
        juce::int64 bytes;
    };

    const Row rows[] = {
        { "\"0\"",          0 },
        { "\"1234\"",       1234 },
        { "\"  +42\"",      42 },
        { "\" -42\"",       -42 },
        { "\"12abc\"",      12 },
        { "\"abc\"",        0 },
        { "\"4294967297\"", 1 },
        { "-5",             -5 },
        { "1.9",            1 },
        { "-1.9",           -1 },
        { "3000000000",     -1294967296 },
        { "4294967296",     0 },
        { "2147483647",     2147483647 },
        { "1e300",          0 },
        { "true",           1 },
        { "[]",             0 },
        { "[5]",            0 },
        { "{\"a\": 5}",     0 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.json);
        const auto json = parse ((juce::String (R"({"brand":"b","family":"f","model":"m","version":"1.0.0",
            "updatedAt":"u","createdAt":"c","binary":"https://h/f","md5":"d","bytes":)") + row.json + "}").toRawUTF8());
        ASSERT_TRUE (json.isObject());
        EXPECT_EQ (expectRecord (json).bytes, row.bytes);
    }

    expectFailure (with ("bytes", 0));
}

TEST (RemoteFirmware, NotesAreTakenOnlyFromAString)
{
    EXPECT_EQ (expectRecord (without ("notes")).notes, "");
    EXPECT_EQ (expectRecord (with ("notes", juce::var())).notes, "");
    EXPECT_EQ (expectRecord (with ("notes", 42)).notes, "");
    EXPECT_EQ (expectRecord (with ("notes", true)).notes, "");
    EXPECT_EQ (expectRecord (with ("notes", juce::var (new juce::DynamicObject()))).notes, "");
    EXPECT_EQ (expectRecord (with ("notes", "")).notes, "");
    EXPECT_EQ (expectRecord (with ("notes", "0")).notes, "0");
}

TEST (RemoteFirmware, ElementsThatAreNotObjectsFail)
{
    expectFailure (parse ("\"a text\""));
    expectFailure (parse ("42"));
    expectFailure (parse ("[1, 2, 3]"));
    expectFailure (parse ("{}"));
    expectFailure (juce::var());
}

TEST (RemoteFirmware, KeysBeyondTheTenAreIgnored)
{
    const auto r = expectRecord (with ("channel", "beta"));
    EXPECT_EQ (r.version.toString(), "1.0.7");
}
