#include "UIComponent.h"

#include <juce_audio_utils/juce_audio_utils.h>

const juce::StringArray UIComponent::synthesizerModelNames { "KestrovaLX", "KestrovaS", "KestrovaLXD" };

UIComponent::UIComponent()
{
    midiMessageCollector.reset (44100.0);

    chooseFileGroup.reset (new juce::GroupComponent ("new group", juce::translate ("Choose File")));
    addAndMakeVisible (chooseFileGroup.get());
    chooseFileGroup->setColour (juce::GroupComponent::outlineColourId, juce::Colour (0x66ffffff));
    chooseFileGroup->setColour (juce::GroupComponent::textColourId, juce::Colour (0xfffcfcfc));

    firmwareComboBox.reset (new juce::ComboBox ("Cloud Items"));
    addAndMakeVisible (firmwareComboBox.get());
    firmwareComboBox->setEditableText (false);
    firmwareComboBox->setJustificationType (juce::Justification::centredLeft);
    firmwareComboBox->setTextWhenNothingSelected (juce::translate ("Select firmware"));
    firmwareComboBox->setTextWhenNoChoicesAvailable (juce::translate ("No internet connection..."));
    firmwareComboBox->addListener (this);

    filePathEditor.reset (new juce::TextEditor ("new text editor"));
    addAndMakeVisible (filePathEditor.get());
    filePathEditor->setMultiLine (false, true);
    filePathEditor->setReturnKeyStartsNewLine (false);
    filePathEditor->setReadOnly (true);
    filePathEditor->setScrollbarsShown (true);
    filePathEditor->setCaretVisible (false);
    filePathEditor->setPopupMenuEnabled (true);
    filePathEditor->setText ("", true);

    const auto makeTextButton = [this] (std::unique_ptr<juce::TextButton>& button, const char* text)
    {
        button.reset (new juce::TextButton ("new button"));
        addAndMakeVisible (button.get());
        button->setButtonText (juce::translate (text));
        button->addListener (this);
    };

    makeTextButton (browseButton, "Browse");
    makeTextButton (beginUpdateButton, "Begin Update");
    makeTextButton (midiDeviceButton, "MIDI Device");

    const auto makeToggle = [this] (std::unique_ptr<juce::ToggleButton>& toggle, const char* text)
    {
        toggle.reset (new juce::ToggleButton ("new toggle button"));
        addAndMakeVisible (toggle.get());
        toggle->setButtonText (juce::translate (text));
        toggle->setRadioGroupId (1, juce::sendNotification);
        toggle->addListener (this);
        toggle->setColour (juce::ToggleButton::textColourId, juce::Colours::white);
    };

    makeToggle (localFileToggle, "Local File");
    makeToggle (downloadFileToggle, "Download File");

    setSize (400, 162);

    openMidiDevices();

    // The look-and-feel outlines a focused toggle in this colour; the panel wants no outline.
    localFileToggle->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
    downloadFileToggle->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);

    selectSynthesizerPorts();

    beginUpdateButton->setEnabled (false);
}

UIComponent::~UIComponent()
{
    // First, so that the MIDI input thread is out of the panel before the collector goes.
    if (receivingMidi)
        deviceManager.removeMidiInputDeviceCallback ({}, this);

    chooseFileGroup = nullptr;
    firmwareComboBox = nullptr;
    filePathEditor = nullptr;
    browseButton = nullptr;
    beginUpdateButton = nullptr;
    midiDeviceButton = nullptr;
    localFileToggle = nullptr;
    downloadFileToggle = nullptr;
}

void UIComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff383737));
}

void UIComponent::resized()
{
    chooseFileGroup->setBounds (8, 32, 384, 75);
    firmwareComboBox->setBounds (26, 56, 348, 32);
    filePathEditor->setBounds (26, 56, 258, 32);
    browseButton->setBounds (294, 56, 80, 32);
    beginUpdateButton->setBounds (288, 120, 104, 32);
    midiDeviceButton->setBounds (10, 120, 88, 32);
    localFileToggle->setBounds (232, 8, 88, 24);
    downloadFileToggle->setBounds (112, 8, 112, 24);
}

void UIComponent::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    midiMessageCollector.addMessageToQueue (message);
}

void UIComponent::comboBoxChanged (juce::ComboBox*)
{
}

void UIComponent::buttonClicked (juce::Button* buttonThatWasClicked)
{
    if (buttonThatWasClicked == midiDeviceButton.get())
        showMidiSettings();
}

juce::String UIComponent::chooseSynthesizerModel (const juce::StringArray& portNames)
{
    for (const auto& model : synthesizerModelNames)
        if (portNames.indexOf (model, true) >= 0)
            return model;

    return {};
}

juce::String UIComponent::findPortIdentifier (const juce::Array<juce::MidiDeviceInfo>& ports,
                                              const juce::String& name)
{
    for (const auto& port : ports)
        if (port.name == name)
            return port.identifier;

    return {};
}

juce::String UIComponent::chooseSynthesizerPort (const juce::Array<juce::MidiDeviceInfo>& ports)
{
    juce::StringArray names;

    for (const auto& port : ports)
        names.add (port.name);

    const auto model = chooseSynthesizerModel (names);
    return model.isEmpty() ? juce::String() : findPortIdentifier (ports, model);
}

void UIComponent::openMidiDevices()
{
    const auto error = deviceManager.initialise (0, 0, nullptr, true, {}, nullptr);

    if (error.isNotEmpty())
    {
        juce::AlertWindow::showMessageBox (juce::AlertWindow::WarningIcon,
                                           "Kestrova Updater",
                                           "Couldn't open a MIDI device!\n\n" + error,
                                           {},
                                           nullptr);
        return;
    }

    deviceManager.addMidiInputDeviceCallback ({}, this);
    receivingMidi = true;
}

void UIComponent::selectSynthesizerPorts()
{
    const auto input = chooseSynthesizerPort (juce::MidiInput::getAvailableDevices());

    if (input.isNotEmpty())
        deviceManager.setMidiInputDeviceEnabled (input, true);

    const auto output = chooseSynthesizerPort (juce::MidiOutput::getAvailableDevices());

    if (output.isNotEmpty())
        deviceManager.setDefaultMidiOutputDevice (output);
}

void UIComponent::showMidiSettings()
{
    juce::AudioDeviceSelectorComponent selector (deviceManager, 0, 0, 0, 0, true, true, false, true);
    selector.setSize (500, 400);

    juce::DialogWindow::LaunchOptions options;
    options.dialogTitle = "MIDI Settings";
    options.content.setNonOwned (&selector);
    options.componentToCentreAround = this;
    options.dialogBackgroundColour = juce::Colours::azure;
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = false;
    options.resizable = false;
    options.useBottomRightCornerResizer = false;

    // The panel owns the dialog rather than the modal manager: a quit that arrives while it
    // is open ends the loop early, and the dialog must not outlive the selector it shows.
    std::unique_ptr<juce::DialogWindow> dialog (options.create());
    dialog->runModalLoop();
}
