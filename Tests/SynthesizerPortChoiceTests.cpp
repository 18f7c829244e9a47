#include "UIComponent.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
    juce::Array<juce::MidiDeviceInfo> ports (std::initializer_list<const char*> names)
    {
        juce::Array<juce::MidiDeviceInfo> result;
        int number = 0;

        for (auto* name : names)
            result.add ({ name, "port-" + juce::String (++number) });

        return result;
    }

    juce::StringArray namesOf (const std::vector<const char*>& names)
    {
        juce::StringArray result;

        for (auto* name : names)
            result.add (name);

        return result;
    }
}

TEST (SynthesizerPortChoice, LooksForTheModelsInTheirOrder)
{
    EXPECT_EQ (UIComponent::synthesizerModelNames, juce::StringArray ({ "KestrovaLX", "KestrovaS", "KestrovaLXD" }));
}

TEST (SynthesizerPortChoice, ChoosesTheFirstModelThatSomePortIsNamed)
{
    struct Case
    {
        std::vector<const char*> portNames;
        const char* model;
    };

    const Case cases[] = {
        { {},                                            "" },
        { { "Midi Through Port-0", "USB MIDI 1" },      "" },
        { { "KestrovaLX" },                              "KestrovaLX" },
        { { "KestrovaS", "KestrovaLX" },                 "KestrovaLX" },
        { { "KestrovaLXD", "KestrovaS" },                "KestrovaS" },
        { { "KestrovaLXD" },                             "KestrovaLXD" },
        { { "KestrovaLXD", "KestrovaLX" },               "KestrovaLX" },
        // Whole names only: a longer or shorter name is another port.
        { { "KestrovaLX MIDI 1", "Kestrova", " KestrovaLX", "KestrovaLX " }, "" },
        { { "KestrovaSX", "KestrovaLXD" },               "KestrovaLXD" },
        // Case is ignored, and the model comes back as spelt here.
        { { "KESTROVALX" },                              "KestrovaLX" },
        { { "kestrovas", "KESTROVALXD" },                "KestrovaS" },
    };

    for (const auto& c : cases)
    {
        const auto portNames = namesOf (c.portNames);
        SCOPED_TRACE (portNames.joinIntoString (" | ").toStdString());
        EXPECT_EQ (UIComponent::chooseSynthesizerModel (portNames), juce::String (c.model));
    }
}

TEST (SynthesizerPortChoice, FindsPortsByExactName)
{
    const auto list = ports ({ "kestrovalx", "KestrovaLX", "KestrovaLX" });

    EXPECT_EQ (UIComponent::findPortIdentifier (list, "KestrovaLX"), "port-2");
    EXPECT_EQ (UIComponent::findPortIdentifier (list, "KESTROVALX"), "");
    EXPECT_EQ (UIComponent::findPortIdentifier (list, ""), "");
    EXPECT_EQ (UIComponent::findPortIdentifier ({}, "KestrovaLX"), "");
}

TEST (SynthesizerPortChoice, ChoosesThePortOfTheFirstModelFound)
{
    EXPECT_EQ (UIComponent::chooseSynthesizerPort (ports ({ "Midi Through", "KestrovaS", "KestrovaLX" })), "port-3");
    EXPECT_EQ (UIComponent::chooseSynthesizerPort (ports ({ "KestrovaLXD", "KestrovaS" })), "port-2");
    EXPECT_EQ (UIComponent::chooseSynthesizerPort (ports ({ "KestrovaLXD", "Other" })), "port-1");
    EXPECT_EQ (UIComponent::chooseSynthesizerPort ({}), "");
    EXPECT_EQ (UIComponent::chooseSynthesizerPort (ports ({ "Midi Through", "USB MIDI 1" })), "");
}

TEST (SynthesizerPortChoice, InputAndOutputAreChosenIndependently)
{
    const auto inputs = ports ({ "KestrovaS" });
    const auto outputs = ports ({ "Other", "KestrovaLX" });

    EXPECT_EQ (UIComponent::chooseSynthesizerPort (inputs), "port-1");
    EXPECT_EQ (UIComponent::chooseSynthesizerPort (outputs), "port-2");
}

TEST (SynthesizerPortChoice, NameDifferingOnlyInCaseTakesTheModelButFindsNoPort)
{
    // The first model matches ignoring case, but the device manager looks it up with
    // exact case and finds nothing; the later models are not tried.
    const auto list = ports ({ "KESTROVALX", "KestrovaS" });

    EXPECT_EQ (UIComponent::chooseSynthesizerModel ({ "KESTROVALX", "KestrovaS" }), "KestrovaLX");
    EXPECT_EQ (UIComponent::chooseSynthesizerPort (list), "");
}
