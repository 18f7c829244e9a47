#include "UIComponent.h"
#include "Support/PanelFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{
    using Widgets = PanelWidgets;

    struct ExpectedChild
    {
        const char* name;
        juce::Rectangle<int> bounds;
        bool visible; // in the download mode the panel starts in
    };

    const ExpectedChild expectedChildren[] = {
        { "new group",         {   8,  32, 384, 75 }, true },
        { "Cloud Items",       {  26,  56, 348, 32 }, true },
        { "new text editor",   {  26,  56, 258, 32 }, false },
        { "new button",        { 294,  56,  80, 32 }, false },
        { "new button",        { 288, 120, 104, 32 }, true },
        { "new button",        {  10, 120,  88, 32 }, true },
        { "new toggle button", { 232,   8,  88, 24 }, true },
        { "new toggle button", { 112,   8, 112, 24 }, true },
    };

    void expectLayout (juce::Component& panel)
    {
        ASSERT_EQ (panel.getNumChildComponents(), 8);

        for (int i = 0; i < 8; ++i)
        {
            SCOPED_TRACE ("child " + std::to_string (i));
            auto* child = panel.getChildComponent (i);
            EXPECT_EQ (child->getName(), expectedChildren[i].name);
            EXPECT_EQ (child->getBounds(), expectedChildren[i].bounds);
            EXPECT_EQ (child->isVisible(), expectedChildren[i].visible);
        }
    }

    /** Installs a translation for the test's lifetime. */
    struct ScopedTranslation
    {
        explicit ScopedTranslation (const juce::String& mappings)
        {
            juce::LocalisedStrings::setCurrentMappings (new juce::LocalisedStrings (mappings, false));
        }

        ~ScopedTranslation()
        {
            juce::LocalisedStrings::setCurrentMappings (nullptr);
        }
    };

    juce::MidiMessage stamped (juce::MidiMessage message)
    {
        // As the MIDI input does: seconds on the millisecond counter.
        message.setTimeStamp (juce::Time::getMillisecondCounterHiRes() * 0.001);
        return message;
    }
}

/** The panel as the program makes it, its list request answered by a loopback service. */
class UIComponentTest : public GuiTestFixture
{
protected:
    UIComponentTest()
    {
        service.knowClient (UIComponent::ClientUUID.toStdString(), UIComponent::ClientSecret.toStdString());
    }

    LoopbackCloudService service;
    Cloud::ScopedServiceAddress serviceAddress { service.baseURL() };
};

TEST_F (UIComponentTest, IsFourHundredBy162WithItsWidgetsInOrder)
{
    UIComponent panel;

    EXPECT_EQ (panel.getName(), "");
    EXPECT_EQ (panel.getWidth(), 400);
    EXPECT_EQ (panel.getHeight(), 162);
    expectLayout (panel);
    EXPECT_NO_THROW (Widgets { panel });
}

TEST_F (UIComponentTest, LayoutIgnoresThePanelSize)
{
    UIComponent panel;

    for (auto size : { juce::Point<int> (600, 400), juce::Point<int> (10, 10), juce::Point<int> (400, 162) })
    {
        SCOPED_TRACE (size.toString().toStdString());
        panel.setSize (size.x, size.y);
        expectLayout (panel);
    }
}

TEST_F (UIComponentTest, WidgetsCarryTheirTextsAndSettings)
{
    UIComponent panel;
    Widgets w (panel);

    EXPECT_EQ (w.group.getText(), "Choose File");

    EXPECT_FALSE (w.firmwareBox.isTextEditable());
    EXPECT_EQ (w.firmwareBox.getJustificationType(), juce::Justification (juce::Justification::centredLeft));
    EXPECT_EQ (w.firmwareBox.getTextWhenNothingSelected(), "Select firmware");
    EXPECT_EQ (w.firmwareBox.getTextWhenNoChoicesAvailable(), "No internet connection...");
    EXPECT_EQ (w.firmwareBox.getNumItems(), 0);
    EXPECT_EQ (w.firmwareBox.getText(), "");

    EXPECT_FALSE (w.pathField.isMultiLine());
    EXPECT_FALSE (w.pathField.getReturnKeyStartsNewLine());
    EXPECT_TRUE (w.pathField.isReadOnly());
    EXPECT_TRUE (w.pathField.areScrollbarsShown());
    EXPECT_FALSE (w.pathField.isCaretVisible());
    EXPECT_TRUE (w.pathField.isPopupMenuEnabled());
    EXPECT_EQ (w.pathField.getPasswordCharacter(), 0u);
    EXPECT_EQ (w.pathField.getText(), "");

    EXPECT_EQ (w.browse.getButtonText(), "Browse");
    EXPECT_EQ (w.beginUpdate.getButtonText(), "Begin Update");
    EXPECT_EQ (w.midiDevice.getButtonText(), "MIDI Device");
    EXPECT_EQ (w.localFile.getButtonText(), "Local File");
    EXPECT_EQ (w.downloadFile.getButtonText(), "Download File");

    EXPECT_EQ (w.localFile.getRadioGroupId(), 1);
    EXPECT_EQ (w.downloadFile.getRadioGroupId(), 1);
    EXPECT_FALSE (w.localFile.getToggleState());
    EXPECT_TRUE (w.downloadFile.getToggleState());
}

TEST_F (UIComponentTest, OnlyBeginUpdateStartsDisabled)
{
    UIComponent panel;

    for (int i = 0; i < panel.getNumChildComponents(); ++i)
    {
        SCOPED_TRACE ("child " + std::to_string (i));
        EXPECT_EQ (panel.getChildComponent (i)->isEnabled(), i != 4);
    }
}

TEST_F (UIComponentTest, SetsItsOwnColoursAndTakesTheRestFromTheLookAndFeel)
{
    UIComponent panel;
    Widgets w (panel);

    EXPECT_EQ (w.group.findColour (juce::GroupComponent::outlineColourId), juce::Colour (0x66ffffff));
    EXPECT_EQ (w.group.findColour (juce::GroupComponent::textColourId), juce::Colour (0xfffcfcfc));

    for (auto* toggle : { &w.localFile, &w.downloadFile })
    {
        EXPECT_EQ (toggle->findColour (juce::ToggleButton::textColourId), juce::Colours::white);
        EXPECT_TRUE (toggle->isColourSpecified (juce::TextEditor::focusedOutlineColourId));
        EXPECT_EQ (toggle->findColour (juce::TextEditor::focusedOutlineColourId), juce::Colours::transparentBlack);
    }

    for (int i = 0; i < panel.getNumChildComponents(); ++i)
        EXPECT_EQ (&panel.getChildComponent (i)->getLookAndFeel(), &juce::LookAndFeel::getDefaultLookAndFeel());

    EXPECT_FALSE (w.browse.isColourSpecified (juce::TextButton::buttonColourId));
    EXPECT_EQ (w.browse.findColour (juce::TextButton::buttonColourId), juce::LookAndFeel_V3().findColour (juce::TextButton::buttonColourId));
}

TEST_F (UIComponentTest, PaintsItsBackgroundBehindTheWidgets)
{
    UIComponent panel;
    const auto image = panel.createComponentSnapshot (panel.getLocalBounds());

    // Points that no widget covers.
    for (auto point : { juce::Point<int> (0, 0), juce::Point<int> (399, 161), juce::Point<int> (200, 113),
                        juce::Point<int> (4, 60), juce::Point<int> (395, 60), juce::Point<int> (150, 140) })
    {
        SCOPED_TRACE (point.toString().toStdString());
        EXPECT_EQ (image.getPixelAt (point.x, point.y), juce::Colour (0xff383737));
    }
}

TEST_F (UIComponentTest, WidgetTextsPassThroughTranslationButNamesDoNot)
{
    ScopedTranslation translation ("language: Test\n"
                                   "\"Choose File\" = \"t-Choose File\"\n"
                                   "\"Select firmware\" = \"t-Select firmware\"\n"
                                   "\"No internet connection...\" = \"t-No internet\"\n"
                                   "\"Browse\" = \"t-Browse\"\n"
                                   "\"Begin Update\" = \"t-Begin Update\"\n"
                                   "\"MIDI Device\" = \"t-MIDI Device\"\n"
                                   "\"Local File\" = \"t-Local File\"\n"
                                   "\"Download File\" = \"t-Download File\"\n"
                                   "\"new button\" = \"t-new button\"\n"
                                   "\"Cloud Items\" = \"t-Cloud Items\"\n");
    UIComponent panel;
    Widgets w (panel);

    EXPECT_EQ (w.group.getText(), "t-Choose File");
    EXPECT_EQ (w.firmwareBox.getTextWhenNothingSelected(), "t-Select firmware");
    EXPECT_EQ (w.firmwareBox.getTextWhenNoChoicesAvailable(), "t-No internet");
    EXPECT_EQ (w.browse.getButtonText(), "t-Browse");
    EXPECT_EQ (w.beginUpdate.getButtonText(), "t-Begin Update");
    EXPECT_EQ (w.midiDevice.getButtonText(), "t-MIDI Device");
    EXPECT_EQ (w.localFile.getButtonText(), "t-Local File");
    EXPECT_EQ (w.downloadFile.getButtonText(), "t-Download File");

    EXPECT_EQ (w.browse.getName(), "new button");
    EXPECT_EQ (w.firmwareBox.getName(), "Cloud Items");
}

namespace
{
    /** The port the panel should take: the first model name that some port carries in
        any letter case, then the port written exactly so; none when that one is missing. */
    std::string synthesizerPortAmong (const juce::Array<juce::MidiDeviceInfo>& ports)
    {
        const auto lower = [] (std::string text)
        {
            std::transform (text.begin(), text.end(), text.begin(), [] (unsigned char c) { return (char) std::tolower (c); });
            return text;
        };

        for (const std::string model : { "KestrovaLX", "KestrovaS", "KestrovaLXD" })
        {
            const auto carried = std::any_of (ports.begin(), ports.end(), [&] (const juce::MidiDeviceInfo& port)
            {
                return lower (port.name.toStdString()) == lower (model);
            });

            if (! carried)
                continue;

            for (const auto& port : ports)
                if (port.name.toStdString() == model)
                    return port.identifier.toStdString();

            return {};
        }

        return {};
    }
}

TEST_F (UIComponentTest, OpensMidiOnlyAndTakesTheSynthesizerPortsOfThisMachine)
{
    UIComponent panel;

    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);

    const auto setup = panel.deviceManager.getAudioDeviceSetup();
    EXPECT_EQ (setup.inputChannels.countNumberOfSetBits(), 0);
    EXPECT_EQ (setup.outputChannels.countNumberOfSetBits(), 0);

    // This machine's ports decide what is expected; with none, nothing may be enabled or set.
    const auto inputs = juce::MidiInput::getAvailableDevices();
    const auto expectedInput = synthesizerPortAmong (inputs);

    for (const auto& input : inputs)
        EXPECT_EQ (panel.deviceManager.isMidiInputDeviceEnabled (input.identifier), input.identifier.toStdString() == expectedInput);

    EXPECT_EQ (panel.deviceManager.getDefaultMidiOutputIdentifier().toStdString(),
               synthesizerPortAmong (juce::MidiOutput::getAvailableDevices()));
    EXPECT_EQ (panel.deviceManager.getDefaultMidiOutput() == nullptr,
               panel.deviceManager.getDefaultMidiOutputIdentifier().isEmpty());
}

TEST_F (UIComponentTest, QueuesEveryIncomingMessageUnfiltered)
{
    UIComponent panel;

    const std::vector<juce::MidiMessage> sent {
        juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100),
        juce::MidiMessage::noteOff (1, 60),
        juce::MidiMessage::midiClock(),
        juce::MidiMessage (0xfe),
        juce::MidiMessage::programChange (16, 5),
        juce::MidiMessage::pitchWheel (3, 0x2000),
        juce::MidiMessage::createSysExMessage (std::vector<juce::uint8> { 0x43, 0x10, 0x4c, 0x00 }.data(), 4),
        juce::MidiMessage::createSysExMessage (std::vector<juce::uint8> { 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x74, 0x01 }.data(), 7),
    };

    // Handed over on a thread of its own, as the platform's MIDI input does.
    std::thread midiInput ([&]
    {
        for (const auto& message : sent)
            panel.handleIncomingMidiMessage (nullptr, stamped (message));
    });
    midiInput.join();

    juce::MidiBuffer received;
    panel.midiMessageCollector.removeNextBlockOfMessages (received, 44100);

    std::vector<juce::MidiMessage> messages;

    for (const auto metadata : received)
        messages.push_back (metadata.getMessage());

    ASSERT_EQ (messages.size(), sent.size());

    for (size_t i = 0; i < sent.size(); ++i)
    {
        SCOPED_TRACE ("message " + std::to_string (i));
        EXPECT_EQ (juce::MemoryBlock (messages[i].getRawData(), (size_t) messages[i].getRawDataSize()),
                   juce::MemoryBlock (sent[i].getRawData(), (size_t) sent[i].getRawDataSize()));
    }
}
