#include "UIComponent.h"

#include "Cloud/ServiceKeys.h"
#include "Cloud/StatusCode.h"
#include "UpdateThread.h"
#include "Utilities/StandardOutput.h"

#include <juce_audio_utils/juce_audio_utils.h>

const juce::StringArray UIComponent::synthesizerModelNames { "KestrovaLX", "KestrovaS", "KestrovaLXD" };

const juce::String UIComponent::ClientUUID { "9c4e27a1-5b3f-4d86-a0e2-71f8c6b5d934" };

const juce::String UIComponent::ClientSecret {
    "f95fec4de2c0967c01809dedf7b1b01cf7c0d3a4b9fbce5e8e78d9087dcf1500"
    "fe9e02ffccf2f27e82d92041ab5e7a680a16dba9198365418012f0e9fb9d16d3"
    "9de07c5613373dace4299c2869e167ca94cfda01fa5d9456b0ddabf5ece75d53"
    "036cf1bb985468532679447f9b3f7473cc4f704d0a56bd232cc58be0c9accc3b"
    "b41be7ccfe2cecc248a960970c4f70b43ac008d9017445861a0349dc4675b562"
    "e9bd184a6a361d1a11105022769991f798cad009e30a81ca6b57d8217a13f761"
    "8ef9e2148689ddc14cdc881adcf26f785d81031e17bc823113d33cc249d19bc6"
    "6ea5c733db2458cb5a0ea53a457a3dbd95d832d62718cce94709669b28c9649a"
    "d752c5a528f0e72119c0af72e13591bae0cdc2a24162d5f0cf34c5f49097fee0"
    "16b49307a8dc05815dcaef76e5f293bf5074c778a2f00712ff79e91e78c5476d"
    "bf76d937b3b3ec03d99f9657bfdfcd245aa7491fffaab62ac26da21d2b72fe43"
    "27bc3b262c93470bdce475fe5476c9336bc6a66c576de8e92b54852f823eb2c0"
    "57d1b8e99c59aa2c5d04c581802917d14908d8d88622ce6df567d0d7f90d29be"
    "ed3339acdc6903e24d9e4dd49e006b107fbd4758aa27606d61d3288f9955fe55"
    "40ec6b3d4244f2b601b15883efd04a6b1de1c20b66fe527f43a114c8f28c3fcb"
    "1f9f4d1faa4effa222504c99e2ab4e407c45042a3e307d81af6c200b85da2ccf"
};

UIComponent::Environment UIComponent::Environment::ofThisMachine()
{
    Environment environment;
    environment.operatingSystemType = [] { return (int) juce::SystemStats::getOperatingSystemType(); };

    environment.showWarning = [] (const juce::String& title, const juce::String& message)
    {
        juce::AlertWindow::showMessageBox (juce::AlertWindow::WarningIcon, title, message, {}, nullptr);
    };

    environment.quit = [] { juce::JUCEApplicationBase::quit(); };

    environment.chooseFile = [] (const juce::String& title, const juce::File& start, const juce::String& pattern)
    {
        juce::FileChooser chooser (title, start, pattern, true, false);
        return chooser.browseForFileToOpen (nullptr) ? chooser.getResult() : juce::File();
    };

    return environment;
}

UIComponent::UIComponent()
    : UIComponent (Environment::ofThisMachine())
{
}

UIComponent::UIComponent (Environment environmentToUse)
    : cloudInterface (ClientUUID, ClientSecret),
      environment (std::move (environmentToUse))
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

    // The framework's Mac OS X flag 0x100 plus the minor version: 10.4 to 10.9.
    const auto systemType = environment.operatingSystemType();
    const auto oldSystem = systemType >= 0x104 && systemType <= 0x109;

    if (oldSystem)
    {
        localFileToggle->setToggleState (true, juce::sendNotificationSync);
        localFileToggle->setVisible (false);
        downloadFileToggle->setVisible (false);
        return;
    }

    // The service can answer late, during shut-down or after it.
    cloudInterface.getAvailableFirmwareList ([panel = SafePointer<UIComponent> (this)] (auto result)
                                             {
                                                 if (panel != nullptr)
                                                     panel->handleFirmwareList (std::move (result));
                                             });

    downloadFileToggle->setToggleState (true, juce::sendNotificationSync);
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

void UIComponent::comboBoxChanged (juce::ComboBox* comboBoxThatHasChanged)
{
    if (comboBoxThatHasChanged == firmwareComboBox.get())
        updateButtonStates();
}

void UIComponent::buttonClicked (juce::Button* buttonThatWasClicked)
{
    if (buttonThatWasClicked == browseButton.get())
        browseForFile();
    else if (buttonThatWasClicked == beginUpdateButton.get())
        beginUpdate();
    else if (buttonThatWasClicked == midiDeviceButton.get())
        showMidiSettings();
    else if (buttonThatWasClicked == localFileToggle.get())
        applyMode (true);
    else if (buttonThatWasClicked == downloadFileToggle.get())
        applyMode (false);
}

void UIComponent::applyMode (bool localFile)
{
    filePathEditor->setVisible (localFile);
    browseButton->setVisible (localFile);
    firmwareComboBox->setVisible (! localFile);
    updateButtonStates();
}

void UIComponent::updateButtonStates()
{
    if (localFileToggle->getToggleState())
    {
        const auto path = filePathEditor->getText();

        if (! juce::File::isAbsolutePath (path))
        {
            beginUpdateButton->setEnabled (false);
            return;
        }

        const juce::File file (path);
        beginUpdateButton->setEnabled (file.existsAsFile() && file.hasFileExtension (".syx"));
        return;
    }

    beginUpdateButton->setEnabled (findListedFirmware (firmwareComboBox->getText()) != nullptr);
}

const Cloud::Remotefirmware* UIComponent::findListedFirmware (const juce::String& version) const
{
    for (const auto& record : firmwareList)
        if (record.version.toString() == version)
            return &record;

    return nullptr;
}

void UIComponent::browseForFile()
{
    const auto path = filePathEditor->getText();
    const juce::File start (path.isEmpty() ? juce::File::getCurrentWorkingDirectory().getFullPathName() : path);

    const auto chosen = environment.chooseFile ("Please select the sysex firmware file to load...", start, "*.syx");

    if (chosen == juce::File())
        return;

    filePathEditor->setText (chosen.getFullPathName(), true);
    beginUpdateButton->setEnabled (true);
}

void UIComponent::beginUpdate()
{
    if (localFileToggle->getToggleState())
    {
        beginUpdateWithFile (juce::File (filePathEditor->getText()));
        return;
    }

    const auto* listed = findListedFirmware (firmwareComboBox->getText());

    if (listed == nullptr)
        return;

    // A copy: a box shown from inside the call runs a modal loop, in which a late list
    // could replace the one the entry lives in.
    const auto record = *listed;
    const SafePointer<UIComponent> panel (this);

    cloudInterface.downloadFirmware (record,
                                     [panel] (float fraction, const Cloud::Error* error)
                                     {
                                         if (panel != nullptr)
                                             panel->handleDownloadProgress (fraction, error);
                                     },
                                     [panel] (auto file, auto task)
                                     {
                                         if (panel != nullptr)
                                             panel->handleDownloadFinished (std::move (file), std::move (task));
                                     });
}

void UIComponent::handleFirmwareList (Cloud::Result<std::vector<Cloud::Remotefirmware>, Cloud::Error> result)
{
    if (! result.isOk())
    {
        writeToStandardOutput ("Error fetching updates - " + result.getError().description() + "\n");
        return;
    }

    firmwareList = result.getResult();
    firmwareComboBox->clear (juce::sendNotificationAsync);

    for (size_t i = 0; i < firmwareList.size(); ++i)
        firmwareComboBox->addItem (firmwareList[i].version.toString(), (int) i + 1);
}

void UIComponent::handleDownloadProgress (float, const Cloud::Error* error)
{
    if (error != nullptr)
        showWarning ("Can't download firmware");
}

void UIComponent::handleDownloadFinished (std::shared_ptr<juce::TemporaryFile> file,
                                          std::shared_ptr<juce::URL::DownloadTask> task)
{
    // Delivered inside a running transfer's modal loop, this would start a second transfer on
    // the same MIDI ports, so it waits its turn. Its box would not cancel the running transfer
    // (a box over the progress window leaves it running), but it waits too, for the outcome.
    if (transferRunning)
    {
        heldDownloads.push_back ({ std::move (file), std::move (task) });
        return;
    }

    if (task->hadError() || ! Cloud::StatusCode (task->statusCode()).successful())
    {
        showWarning ("Can't download firmware");
        return;
    }

    downloadedFile = std::move (file);
    beginUpdateWithFile (downloadedFile->getFile());
}

void UIComponent::handleHeldDownloads()
{
    while (! transferRunning && ! heldDownloads.empty())
    {
        auto next = heldDownloads.front();
        heldDownloads.erase (heldDownloads.begin());
        handleDownloadFinished (std::move (next.file), std::move (next.task));
    }
}

void UIComponent::beginUpdateWithFile (const juce::File& file)
{
    // Once the loop is stopping, a progress window could never close again.
    if (juce::MessageManager::getInstance()->hasStopMessageBeenSent())
        return;

    transferRunning = true;

    {
        const auto task = environment.transferOutput != nullptr
                              ? std::make_unique<UpdateThreadTask> (environment.transferOutput, midiMessageCollector, file)
                              : std::make_unique<UpdateThreadTask> (deviceManager, file, this);

        runningTask = task.get();
        task->runThread (juce::Thread::Priority::normal);
        runningTask = nullptr;

        // The user asked to leave; a box now would only hold the quit back.
        if (task->errorMessage.isNotEmpty() && ! quitWhenTransferEnds)
            showWarning ("Error Updating\n" + task->errorMessage);

        cloudInterface.notifyServerOfFirmwareUpdate (task->synthId, Cloud::ServiceKeys::brand, Cloud::ServiceKeys::family,
                                                     Cloud::ServiceKeys::model,
                                                     task->fileVersion, task->synthVersion,
                                                     task->startTime, task->endTime,
                                                     task->errorMessage.isEmpty());
    }

    transferRunning = false;

    if (quitWhenTransferEnds)
    {
        environment.quit();
        return;
    }

    handleHeldDownloads();
}

bool UIComponent::holdQuitUntilTransferEnds()
{
    if (runningTask == nullptr)
        return false;

    quitWhenTransferEnds = true;
    runningTask->signalThreadShouldExit();
    return true;
}

void UIComponent::showWarning (const juce::String& message)
{
    environment.showWarning ("Kestrova Updater", message);
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
        showWarning ("Couldn't open a MIDI device!\n\n" + error);
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
