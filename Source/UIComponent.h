#pragma once

#include "Cloud/CloudInterface.h"
#include "Cloud/RemoteFirmware.h"
#include "MidiSender.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <vector>

class UpdateThreadTask;

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

    /** Enables "Begin Update" exactly when the current mode has a firmware to send: an
        existing ".syx" file at an absolute path, or a listed cloud version. */
    void updateButtonStates();

    /** Runs one transfer of the file under the progress window, shows its error if it
        failed, and reports its outcome to the service either way. */
    void beginUpdateWithFile (const juce::File& file);

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

    /** The credentials the firmware service knows this program by. */
    static const juce::String ClientUUID;
    static const juce::String ClientSecret;

    /** A quit while a transfer's progress window waits would leave that wait spinning for
        ever, since it ends only on a message that a stopped loop no longer delivers. So the
        transfer is stopped instead, and the panel quits once it has ended. Returns whether
        the quit was held back; when not, the caller quits. */
    bool holdQuitUntilTransferEnds();

    // The update task sends through the default MIDI output and drains the collector.
    juce::AudioDeviceManager deviceManager;
    juce::MidiMessageCollector midiMessageCollector;

protected:
    /** What the panel asks of the machine around it beyond its widgets: the calls that
        block on the user or depend on the system, gathered so that they can be stood in for. */
    struct Environment
    {
        std::function<int()> operatingSystemType;

        /** A blocking warning box. */
        std::function<void (const juce::String& title, const juce::String& message)> showWarning;

        /** A blocking file-open dialog; gives the chosen file, or a default juce::File
            when the user cancelled. */
        std::function<juce::File (const juce::String& title, const juce::File& start, const juce::String& pattern)> chooseFile;

        /** Ends the program's message loop. */
        std::function<void()> quit;

        /** Where transfers send, when set, in place of the device manager's default output. */
        MidiSender* transferOutput = nullptr;

        /** The framework's own calls and the device manager's output. */
        static Environment ofThisMachine();
    };

    /** The same panel in another environment; the program itself uses ofThisMachine(). */
    explicit UIComponent (Environment environmentToUse);

    Cloud::Interface cloudInterface;
    std::vector<Cloud::Remotefirmware> firmwareList;
    std::shared_ptr<juce::TemporaryFile> downloadedFile;

private:
    struct FinishedDownload
    {
        std::shared_ptr<juce::TemporaryFile> file;
        std::shared_ptr<juce::URL::DownloadTask> task;
    };

    void openMidiDevices();
    void selectSynthesizerPorts();
    void showMidiSettings();
    void applyMode (bool localFile);
    void browseForFile();
    void beginUpdate();
    void showWarning (const juce::String& message);
    const Cloud::Remotefirmware* findListedFirmware (const juce::String& version) const;

    void handleFirmwareList (Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error> result);
    void handleDownloadProgress (float fraction, const Cloud::Error* error);
    void handleDownloadFinished (std::shared_ptr<juce::TemporaryFile> file, std::shared_ptr<juce::URL::DownloadTask> task);
    void handleHeldDownloads();

    std::unique_ptr<juce::GroupComponent> chooseFileGroup;
    std::unique_ptr<juce::ComboBox> firmwareComboBox;
    std::unique_ptr<juce::TextEditor> filePathEditor;
    std::unique_ptr<juce::TextButton> browseButton;
    std::unique_ptr<juce::TextButton> beginUpdateButton;
    std::unique_ptr<juce::TextButton> midiDeviceButton;
    std::unique_ptr<juce::ToggleButton> localFileToggle;
    std::unique_ptr<juce::ToggleButton> downloadFileToggle;

    const Environment environment;
    bool receivingMidi = false;
    bool transferRunning = false;
    UpdateThreadTask* runningTask = nullptr;
    bool quitWhenTransferEnds = false;
    std::vector<FinishedDownload> heldDownloads;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UIComponent)
};
