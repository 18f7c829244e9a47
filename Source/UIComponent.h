#pragma once

#include "Cloud/RemoteFirmware.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

/** The main window's panel: the firmware source, "Begin Update", and the MIDI
    connection to the synthesizer. */
class UIComponent : public juce::Component,
                    public juce::MidiInputCallback,
                    public juce::ComboBox::Listener,
                    public juce::Button::Listener
{
public:
    UIComponent();
    ~UIComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;
    void comboBoxChanged (juce::ComboBox* comboBoxThatHasChanged) override;
    void buttonClicked (juce::Button* buttonThatWasClicked) override;

    /** The names a synthesizer's ports carry, in the order they are looked for. */
    static const juce::StringArray synthesizerModelNames;

    /** The first model name that some port is named, comparing whole names without
        regard to case. Returned as spelt in synthesizerModelNames, or empty. */
    static juce::String chooseSynthesizerModel (const juce::StringArray& portNames);

    /** The identifier of the first port whose name is exactly the given one, or empty.
        This is how the device manager resolves a port name. */
    static juce::String findPortIdentifier (const juce::Array<juce::MidiDeviceInfo>& ports,
                                            const juce::String& name);

    /** The synthesizer's port among the given ones: its model is chosen ignoring case,
        its port then looked up with exact case, so a port whose name differs only in
        case from the model's yields none. */
    static juce::String chooseSynthesizerPort (const juce::Array<juce::MidiDeviceInfo>& ports);

    // The update task sends through the default MIDI output and drains the collector.
    juce::AudioDeviceManager deviceManager;
    juce::MidiMessageCollector midiMessageCollector;

private:
    void openMidiDevices();
    void selectSynthesizerPorts();
    void showMidiSettings();

    std::vector<Cloud::Remotefirmware> firmwareList;
    std::shared_ptr<juce::TemporaryFile> downloadedFile;

    std::unique_ptr<juce::GroupComponent> chooseFileGroup;
    std::unique_ptr<juce::ComboBox> firmwareComboBox;
    std::unique_ptr<juce::TextEditor> filePathEditor;
    std::unique_ptr<juce::TextButton> browseButton;
    std::unique_ptr<juce::TextButton> beginUpdateButton;
    std::unique_ptr<juce::TextButton> midiDeviceButton;
    std::unique_ptr<juce::ToggleButton> localFileToggle;
    std::unique_ptr<juce::ToggleButton> downloadFileToggle;

    bool receivingMidi = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UIComponent)
};
