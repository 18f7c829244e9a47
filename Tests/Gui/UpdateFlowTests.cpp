#include "Support/CapturedStandardOutput.h"
#include "Support/ModalLoopWatcher.h"
#include "Support/PanelFixture.h"
#include "Support/RawRequestRecorder.h"

#include <gtest/gtest.h>

namespace
{
    const Bytes versionRequest { 0xf0, 0x00, 0x7f, 0x7f, 0x20, 0x00, 0x73, 0xf7 };

    bool isUuidText (const juce::String& text)
    {
        if (text.length() != 36)
            return false;

        for (int i = 0; i < 36; ++i)
        {
            const auto c = text[i];
            const auto hyphen = i == 8 || i == 13 || i == 18 || i == 23;

            if (hyphen ? c != '-' : ! juce::String ("0123456789abcdef").containsChar (c))
                return false;
        }

        return true;
    }
}

class UpdateFlow : public PanelFixture
{
protected:
    /** Opens the panel with a list of these records and waits for the list to arrive. */
    void openWithList (const std::vector<std::string>& records)
    {
        std::string json = "[";

        for (const auto& record : records)
            json += (json.size() > 1 ? ", " : "") + record;

        service.setFirmwareList (json + "]");
        openPanel();
        waitForFirmwareList();
    }

    void choose (const juce::String& version)
    {
        widgets->firmwareBox.setText (version, juce::sendNotificationSync);
    }

    void clickBeginUpdate()
    {
        ASSERT_TRUE (widgets->beginUpdate.isEnabled());
        panel->buttonClicked (&widgets->beginUpdate);
    }

    void switchTo (juce::ToggleButton& toggle)
    {
        toggle.setToggleState (true, juce::sendNotificationSync);
    }

    /** Waits for the one report, which says the transfer failed, with the file's and the synthesizer's versions. */
    void expectErrorReport (const juce::String& version, const juce::String& deviceVersion)
    {
        ASSERT_TRUE (waitForReports (1));
        const auto report = reports()[0];
        EXPECT_EQ (report["result"].toString(), "ERROR");
        EXPECT_EQ (report["version"].toString(), version);
        EXPECT_EQ (report["device"]["version"].toString(), deviceVersion);
    }

    /** Switches to a local file and picks this one through the file dialog. */
    void chooseLocalFile (const juce::File& file)
    {
        switchTo (widgets->localFile);
        chooserAnswer = file;
        panel->buttonClicked (&widgets->browse);
    }
};

//==============================================================================
TEST_F (UpdateFlow, CredentialsHaveTheServicesForm)
{
    EXPECT_TRUE (isUuidText (UIComponent::ClientUUID)) << UIComponent::ClientUUID;
    EXPECT_EQ (UIComponent::ClientSecret.length(), 1024);
    EXPECT_TRUE (UIComponent::ClientSecret.containsOnly ("0123456789abcdef"));
}

TEST_F (UpdateFlow, StartsInDownloadModeAndAsksForTheListWithItsCredentials)
{
    service.setFirmwareList ("[" + recordAt ("2.0.0", "/files/a.syx") + "]");
    openPanel();
    auto& w = *widgets;

    EXPECT_TRUE (w.downloadFile.getToggleState());
    EXPECT_FALSE (w.localFile.getToggleState());
    EXPECT_TRUE (w.downloadFile.isVisible());
    EXPECT_TRUE (w.localFile.isVisible());
    EXPECT_TRUE (w.firmwareBox.isVisible());
    EXPECT_FALSE (w.pathField.isVisible());
    EXPECT_FALSE (w.browse.isVisible());
    EXPECT_FALSE (w.beginUpdate.isEnabled());

    waitForFirmwareList();

    const auto challenges = requestsTo (challengePath);
    ASSERT_EQ (challenges.size(), 1u);
    EXPECT_EQ (juce::JSON::parse (juce::String (challenges[0].body))["client"].toString(), UIComponent::ClientUUID);
    EXPECT_EQ (requestsTo (firmwareListPath).size(), 1u);
    EXPECT_TRUE (boxes.empty());
}

TEST_F (UpdateFlow, OnlyMacOsTenFourToTenNineCountAsOld)
{
    struct Case { int type; bool old; };

    for (auto c : { Case { juce::SystemStats::MacOSX | 3, false },
                    Case { juce::SystemStats::MacOSX | 4, true },
                    Case { juce::SystemStats::MacOSX_10_9, true },
                    Case { juce::SystemStats::MacOSX_10_10, false },
                    Case { juce::SystemStats::MacOS_12, false },
                    Case { juce::SystemStats::Linux, false },
                    Case { juce::SystemStats::Windows, false } })
    {
        SCOPED_TRACE (juce::String::toHexString (c.type).toStdString());
        systemType = c.type;
        const auto requestsBefore = service.requests().size();
        openPanel();
        auto& w = *widgets;

        EXPECT_EQ (w.localFile.getToggleState(), c.old);
        EXPECT_EQ (w.downloadFile.getToggleState(), ! c.old);
        EXPECT_EQ (w.localFile.isVisible(), ! c.old);
        EXPECT_EQ (w.downloadFile.isVisible(), ! c.old);
        EXPECT_EQ (w.pathField.isVisible(), c.old);
        EXPECT_EQ (w.browse.isVisible(), c.old);
        EXPECT_EQ (w.firmwareBox.isVisible(), ! c.old);
        EXPECT_FALSE (w.beginUpdate.isEnabled());

        if (! c.old)
            waitForFirmwareList();

        closePanel();
        EXPECT_EQ (service.requests().size() == requestsBefore, c.old) << "an old system asks for no list";
    }
}

TEST_F (UpdateFlow, AnOldSystemStillReportsItsTransfersWithTheTokenItHasNot)
{
    const RawRequestRecorder recorder (service.baseURL().getPort());
    const Cloud::ScopedServiceAddress throughTheRecorder (recorder.baseURL());
    systemType = juce::SystemStats::MacOSX_10_7;
    openPanel();

    chooserAnswer = fileWith (firmware ("1.2.0"));
    panel->buttonClicked (&widgets->browse);
    clickBeginUpdate();

    ASSERT_TRUE (waitForReports (1));
    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (reports()[0]["result"].toString(), "SUCCESS");
    EXPECT_EQ (recorder.headerLines (updateReportPath, "Authorization"), std::vector<std::string> { "Authorization: Bearer " });
    EXPECT_TRUE (requestsTo (challengePath).empty());

    closePanel();
}

//==============================================================================
TEST_F (UpdateFlow, FillsTheBoxWithTheListedVersionsInOrder)
{
    openWithList ({ recordAt ("2.1.0", "/files/c.syx"), recordAt ("1.9.12", "/files/b.syx"), recordAt ("2.0.0", "/files/a.syx") });
    auto& box = widgets->firmwareBox;

    ASSERT_EQ (box.getNumItems(), 3);
    EXPECT_EQ (box.getItemText (0), "2.1.0");
    EXPECT_EQ (box.getItemText (1), "1.9.12");
    EXPECT_EQ (box.getItemText (2), "2.0.0");
    EXPECT_EQ (box.getItemId (0), 1);
    EXPECT_EQ (box.getItemId (2), 3);
    EXPECT_EQ (box.getSelectedId(), 0);
    EXPECT_EQ (box.getText(), "");
    EXPECT_FALSE (widgets->beginUpdate.isEnabled());

    box.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_TRUE (widgets->beginUpdate.isEnabled());

    // Only a whole, exact version text counts.
    for (auto text : { "1.9", "1.9.12 ", "v1.9.12", "" })
    {
        SCOPED_TRACE (text);
        choose (text);
        EXPECT_FALSE (widgets->beginUpdate.isEnabled());
    }
}

TEST_F (UpdateFlow, AnEmptyListLeavesNothingToChoose)
{
    openWithList ({});

    EXPECT_EQ (widgets->firmwareBox.getNumItems(), 0);
    EXPECT_EQ (widgets->firmwareBox.getText(), "");
    EXPECT_FALSE (widgets->beginUpdate.isEnabled());
    EXPECT_TRUE (boxes.empty());
}

TEST_F (UpdateFlow, AFailedListWritesOneLineAndNothingElse)
{
    service.answerWith (Endpoint::firmwareList, { 500, "{}" });
    CapturedStandardOutput output;
    openPanel();
    waitForFirmwareList();
    closePanel();

    EXPECT_EQ (output.take(), "Error fetching updates - Internal Server Error\n");
    EXPECT_TRUE (boxes.empty());
}

TEST_F (UpdateFlow, OfTwoRecordsWithOneVersionTheFirstIsDownloaded)
{
    service.serveFile ("/files/first.syx", asText (firmware()));
    service.serveFile ("/files/second.syx", asText (firmware()));
    openWithList ({ recordAt ("2.0.0", "/files/first.syx"), recordAt ("2.0.0", "/files/second.syx") });

    widgets->firmwareBox.setSelectedId (2, juce::sendNotificationSync);
    clickBeginUpdate();
    ASSERT_TRUE (waitForReports (1));

    EXPECT_EQ (requestsTo ("/files/first.syx").size(), 1u);
    EXPECT_TRUE (requestsTo ("/files/second.syx").empty());
}

//==============================================================================
TEST_F (UpdateFlow, TheLocalFileMustBeAnExistingSyxFileAtAnAbsolutePath)
{
    const auto directory = folder.getChildFile ("folder.syx");
    directory.createDirectory();
    openPanel();

    struct Case { juce::String path; bool enables; };

    for (const auto& c : { Case { "", false },
                           Case { "firmware.syx", false },
                           Case { directory.getFullPathName(), false },
                           Case { folder.getChildFile ("missing.syx").getFullPathName(), false },
                           Case { fileWith (firmware(), "firmware.bin").getFullPathName(), false },
                           Case { fileWith (firmware(), "firmware.syx.txt").getFullPathName(), false },
                           Case { fileWith (firmware(), "FIRMWARE.SYX").getFullPathName(), true },
                           Case { fileWith (firmware(), "firmware.syx").getFullPathName(), true } })
    {
        SCOPED_TRACE (c.path.toStdString());
        switchTo (widgets->downloadFile);
        widgets->pathField.setText (c.path);
        switchTo (widgets->localFile);

        EXPECT_TRUE (widgets->pathField.isVisible());
        EXPECT_TRUE (widgets->browse.isVisible());
        EXPECT_FALSE (widgets->firmwareBox.isVisible());
        EXPECT_EQ (widgets->beginUpdate.isEnabled(), c.enables);
    }
}

TEST_F (UpdateFlow, BrowseStartsInTheWorkingFolderThenAtTheChosenFile)
{
    openPanel();
    switchTo (widgets->localFile);

    chooserAnswer = fileWith (firmware());
    panel->buttonClicked (&widgets->browse);

    ASSERT_EQ (chooserCalls.size(), 1u);
    EXPECT_EQ (chooserCalls[0].title, "Please select the sysex firmware file to load...");
    EXPECT_EQ (chooserCalls[0].start, juce::File::getCurrentWorkingDirectory());
    EXPECT_EQ (chooserCalls[0].pattern, "*.syx");
    EXPECT_EQ (widgets->pathField.getText(), chooserAnswer.getFullPathName());
    EXPECT_TRUE (widgets->beginUpdate.isEnabled());

    const auto chosen = chooserAnswer;
    chooserAnswer = juce::File(); // the user cancels
    panel->buttonClicked (&widgets->browse);

    ASSERT_EQ (chooserCalls.size(), 2u);
    EXPECT_EQ (chooserCalls[1].start, chosen);
    EXPECT_EQ (widgets->pathField.getText(), chosen.getFullPathName());
    EXPECT_TRUE (widgets->beginUpdate.isEnabled());
}

TEST_F (UpdateFlow, BrowseEnablesAtOnceAndTheRuleReturnsWithTheNextModeSwitch)
{
    openPanel();

    // A name the rule refuses: the dialog's pattern is only a filter.
    chooseLocalFile (folder.getChildFile ("gone.syx"));
    EXPECT_TRUE (widgets->beginUpdate.isEnabled());

    switchTo (widgets->downloadFile);
    EXPECT_FALSE (widgets->beginUpdate.isEnabled());
    switchTo (widgets->localFile);
    EXPECT_FALSE (widgets->beginUpdate.isEnabled());
    EXPECT_EQ (widgets->pathField.getText(), chooserAnswer.getFullPathName());
}

TEST_F (UpdateFlow, AClickOnTheToggleThatIsOnAppliesItsModeAgain)
{
    openPanel();
    chooseLocalFile (folder.getChildFile ("gone.syx"));
    ASSERT_TRUE (widgets->beginUpdate.isEnabled());

    // A user's click, through the radio group: the toggle stays on and the rule runs again.
    widgets->localFile.triggerClick();
    drainMessages();
    EXPECT_TRUE (widgets->localFile.getToggleState());
    EXPECT_FALSE (widgets->beginUpdate.isEnabled());
    EXPECT_TRUE (widgets->browse.isVisible());
    EXPECT_FALSE (widgets->firmwareBox.isVisible());
}

//==============================================================================
TEST_F (UpdateFlow, ASuccessfulLocalTransferShowsNothingAndReportsTheFilesVersion)
{
    openPanel();
    waitForFirmwareList();
    synth->versionReply.versionText = "1.1.4";
    chooseLocalFile (fileWith (firmware ("1.2.3")));
    clickBeginUpdate();

    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (synth->packetsReceived().size(), 3u);
    ASSERT_TRUE (waitForReports (1));

    const auto report = reports()[0];
    EXPECT_EQ (report["result"].toString(), "SUCCESS");
    EXPECT_EQ (report["version"].toString(), "1.2.3");
    EXPECT_EQ (report["device"]["version"].toString(), "1.1.4");
    EXPECT_EQ (report["device"]["id"].toString(), "000000000000");
    EXPECT_EQ (report["brand"].toString(), "harvellon");
    EXPECT_EQ (report["family"].toString(), "kestrova");
    EXPECT_EQ (report["model"].toString(), "kestrovalx");
    EXPECT_EQ (juce::String (requestsTo (updateReportPath)[0].header ("Authorization")), "Bearer " + juce::String (service.token()));
}

TEST_F (UpdateFlow, ADownloadedReleaseIsSentAndReportedWithTheVersionInTheFile)
{
    service.serveFile ("/files/a.syx", asText (firmware ("1.2.3")));
    openWithList ({ recordAt ("2.0.0", "/files/a.syx") });

    choose ("2.0.0");
    clickBeginUpdate();
    ASSERT_TRUE (waitForReports (1));

    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (synth->packetsReceived().size(), 3u);
    EXPECT_EQ (reports()[0]["result"].toString(), "SUCCESS");
    EXPECT_EQ (reports()[0]["version"].toString(), "1.2.3");

    ASSERT_NE (panel->lastDownload(), nullptr);
    EXPECT_TRUE (panel->lastDownload()->getFile().existsAsFile()) << "kept after the transfer";
}

TEST_F (UpdateFlow, AFailedTransferShowsItsTextAndIsReportedAsAnError)
{
    openPanel();
    waitForFirmwareList();
    synth->versionReply.versionText = "1.1.4";
    synth->answerPacket (1, SimulatedSynthesizer::Acknowledgement::withStatus (0)); // the first data packet fails its check

    chooseLocalFile (fileWith (firmware ("1.2.3")));
    clickBeginUpdate();

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].title, "Kestrova Updater");
    EXPECT_EQ (boxes[0].message, "Error Updating\nCRC Failed on Retry");

    expectErrorReport ("1.2.3", "1.1.4");
}

TEST_F (UpdateFlow, WithoutAnOutputTheTransferFailsBeforeTheSynthesizerAnswers)
{
    // The device manager's own default output, of which this machine has none.
    openPanel (false);
    waitForFirmwareList();
    chooseLocalFile (fileWith (firmware ("1.2.3")));
    clickBeginUpdate();

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].message, "Error Updating\nNo MIDI Output device");

    expectErrorReport ("0.0.0", "0.0.0");
}

//==============================================================================
TEST_F (UpdateFlow, ADownloadAnsweredWith404RunsNothingAndKeepsTheEarlierFile)
{
    service.serveFile ("/files/good.syx", asText (firmware()));
    openWithList ({ recordAt ("2.0.0", "/files/good.syx"), recordAt ("2.1.0", "/files/missing.syx") });

    choose ("2.0.0");
    clickBeginUpdate();
    ASSERT_TRUE (waitForReports (1));
    const auto earlier = panel->lastDownload();
    ASSERT_NE (earlier, nullptr);

    choose ("2.1.0");
    clickBeginUpdate();
    ASSERT_TRUE (pumpUntil ([this] { return ! boxes.empty(); }));

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].title, "Kestrova Updater");
    EXPECT_EQ (boxes[0].message, "Can't download firmware");
    EXPECT_EQ (requestsTo ("/files/missing.syx").size(), 1u);
    EXPECT_EQ (panel->lastDownload(), earlier);
    EXPECT_TRUE (earlier->getFile().existsAsFile());
    EXPECT_EQ (synth->versionRequestsReceived(), 1) << "no second transfer";

    closePanel();
    EXPECT_EQ (reports().size(), 1u) << "no report for a download that failed";
}

TEST_F (UpdateFlow, ADownloadThatCannotStartSaysSoAndRunsNothing)
{
    // Nothing listens on a privileged port of the loopback interface here.
    openWithList ({ record ("2.0.0", "http://127.0.0.1:1/files/a.syx") });

    choose ("2.0.0");
    clickBeginUpdate();

    // Told before the click returns: the interface already holds a token.
    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].title, "Kestrova Updater");
    EXPECT_EQ (boxes[0].message, "Can't download firmware");

    drainMessages();
    EXPECT_EQ (boxes.size(), 1u);
    EXPECT_EQ (synth->versionRequestsReceived(), 0);
    EXPECT_EQ (panel->lastDownload(), nullptr);

    closePanel();
    EXPECT_TRUE (reports().empty());
}

//==============================================================================
TEST_F (UpdateFlow, ADownloadEndingDuringATransferWaitsForItsTurn)
{
    service.serveFile ("/files/a.syx", asText (firmware()));
    openWithList ({ recordAt ("2.0.0", "/files/a.syx") });
    synth->holdReplies();

    // Two downloads under way before either has ended, as two quick clicks give.
    choose ("2.0.0");
    clickBeginUpdate();
    clickBeginUpdate();

    int mostModal = 0;
    bool sawSecondCompletionInsideFirstTransfer = false;
    bool releasing = false;
    const auto deadline = juce::Time::getMillisecondCounter() + 30000;

    ModalLoopWatcher watcher ([&]
    {
        auto& cloud = panel->cloud();
        mostModal = std::max (mostModal, juce::ModalComponentManager::getInstance()->getNumModalComponents());

        if (juce::Time::getMillisecondCounter() > deadline)
        {
            ADD_FAILURE() << "stuck";
            synth->releaseHeldReplies();
            return true;
        }

        if (! releasing && synth->versionRequestsReceived() > 1)
        {
            ADD_FAILURE() << "a second transfer started inside the first";
            releasing = true;
        }

        // The interface lets go of its finished downloads only once the completion of
        // the second has run; the first's is still inside its transfer.
        if (! releasing && synth->versionRequestsReceived() == 1
             && Cloud::InterfaceInspector::downloadsCompleted (cloud).empty())
        {
            sawSecondCompletionInsideFirstTransfer = true;
            releasing = true;
        }

        if (releasing)
            synth->releaseHeldReplies();

        return requestsTo (updateReportPath).size() == 2;
    });

    ASSERT_TRUE (waitForReports (2, 40000));
    EXPECT_TRUE (sawSecondCompletionInsideFirstTransfer);
    EXPECT_EQ (mostModal, 1) << "one progress window at a time";

    // Each transfer ran whole before the next asked for the version.
    const auto received = synth->received();
    ASSERT_EQ (received.size(), 8u);
    EXPECT_EQ (received[0], versionRequest);
    EXPECT_EQ (received[4], versionRequest);

    for (const auto& report : reports())
        EXPECT_EQ (report["result"].toString(), "SUCCESS");

    EXPECT_TRUE (boxes.empty());
}

TEST_F (UpdateFlow, AFailedDownloadEndingAroundATransferOnlySaysSo)
{
    service.serveFile ("/files/a.syx", asText (firmware()));
    openWithList ({ recordAt ("2.0.0", "/files/a.syx"), recordAt ("3.0.0", "/files/missing.syx") });
    synth->holdReplies();

    choose ("2.0.0");
    clickBeginUpdate();
    choose ("3.0.0");
    clickBeginUpdate();

    bool releasing = false;
    ModalLoopWatcher watcher ([&]
    {
        // Let the transfer go once the failed download has ended: before it (the box is
        // shown) or inside it (its completion, held, let the interface drop both downloads).
        const auto heldInside = synth->versionRequestsReceived() == 1
                             && Cloud::InterfaceInspector::downloadsCompleted (panel->cloud()).empty();

        releasing = releasing || ! boxes.empty() || heldInside;

        if (releasing)
            synth->releaseHeldReplies();

        return ! requestsTo (updateReportPath).empty();
    });

    ASSERT_TRUE (waitForReports (1, 30000));
    drainMessages();

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].message, "Can't download firmware");
    EXPECT_EQ (synth->versionRequestsReceived(), 1) << "the failed download ran no transfer";
    EXPECT_EQ (reports().size(), 1u);
    EXPECT_EQ (reports()[0]["result"].toString(), "SUCCESS");
}

TEST_F (UpdateFlow, AQuitDuringATransferStopsItAndTakesEffectOnceItHasEnded)
{
    openPanel();
    waitForFirmwareList();
    EXPECT_FALSE (panel->holdQuitUntilTransferEnds()) << "with no transfer the caller quits at once";

    // A synthesizer that never answers would keep the transfer waiting for seconds.
    synth->holdReplies();
    chooseLocalFile (fileWith (firmware ("1.2.3")));

    bool held = false;
    int quitsWhileRunning = -1;
    ModalLoopWatcher watcher ([&]
    {
        if (synth->versionRequestsReceived() == 0)
            return false;

        held = panel->holdQuitUntilTransferEnds();
        quitsWhileRunning = quitsAskedFor;
        return true;
    });

    const auto started = juce::Time::getMillisecondCounter();
    clickBeginUpdate();
    const auto took = juce::Time::getMillisecondCounter() - started;

    EXPECT_TRUE (held);
    EXPECT_EQ (quitsWhileRunning, 0) << "the quit waits for the transfer";
    EXPECT_EQ (quitsAskedFor, 1);
    EXPECT_LT (took, 4000u) << "the transfer was stopped, not left to time out";
    EXPECT_TRUE (boxes.empty()) << "no box holds the quit back";

    ASSERT_TRUE (waitForReports (1));
    EXPECT_EQ (reports()[0]["result"].toString(), "ERROR");
}

//==============================================================================
TEST_F (UpdateFlow, AListAnsweredAfterThePanelHasGoneReachesNothing)
{
    service.answerWith (Endpoint::firmwareList, { 503, "{}" });
    service.holdAnswers (Endpoint::firmwareList);
    openPanel();
    ASSERT_TRUE (pumpUntil ([this] { return service.heldRequestCount() == 1; }));

    // The answer is posted before the panel goes, and delivered after.
    service.releaseHeldAnswers();
    ASSERT_TRUE (waitWithoutMessages ([this] { return Cloud::InterfaceInspector::countRunningWorkers (panel->cloud()) == 0; }));

    CapturedStandardOutput output;
    closePanel();
    drainMessages();

    EXPECT_EQ (output.take(), "");
}

TEST_F (UpdateFlow, ADownloadEndingAfterThePanelHasGoneReachesNothing)
{
    openWithList ({ recordAt ("2.0.0", "/files/missing.syx") });
    choose ("2.0.0");
    clickBeginUpdate();

    // Finished, but its completion not yet delivered.
    auto& cloud = panel->cloud();
    ASSERT_TRUE (waitWithoutMessages ([&cloud] { return Cloud::InterfaceInspector::downloadsCompleted (cloud) == std::vector<bool> { true }; }));

    closePanel();
    drainMessages();

    EXPECT_TRUE (boxes.empty());
}
