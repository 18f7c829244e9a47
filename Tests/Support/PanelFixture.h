#pragma once

#include "UIComponent.h"
#include "Support/GuiTestFixture.h"
#include "Support/InterfaceInspector.h"
#include "Support/ScopedServiceAddress.h"
#include "Support/SimulatedSynthesizer.h"
#include "Support/WithLoopbackService.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

/** The panel's children by their place in the creation order; the names alone can't tell them apart. */
struct PanelWidgets
{
    template <typename WidgetType>
    static WidgetType& childAt (juce::Component& panel, int index)
    {
        if (auto* widget = dynamic_cast<WidgetType*> (panel.getChildComponent (index)))
            return *widget;

        throw std::runtime_error ("child " + std::to_string (index) + " is not the expected kind of widget");
    }

    explicit PanelWidgets (juce::Component& panel)
        : group (childAt<juce::GroupComponent> (panel, 0)),
          firmwareBox (childAt<juce::ComboBox> (panel, 1)),
          pathField (childAt<juce::TextEditor> (panel, 2)),
          browse (childAt<juce::TextButton> (panel, 3)),
          beginUpdate (childAt<juce::TextButton> (panel, 4)),
          midiDevice (childAt<juce::TextButton> (panel, 5)),
          localFile (childAt<juce::ToggleButton> (panel, 6)),
          downloadFile (childAt<juce::ToggleButton> (panel, 7))
    {
    }

    juce::GroupComponent& group;
    juce::ComboBox& firmwareBox;
    juce::TextEditor& pathField;
    juce::TextButton& browse;
    juce::TextButton& beginUpdate;
    juce::TextButton& midiDevice;
    juce::ToggleButton& localFile;
    juce::ToggleButton& downloadFile;
};

/** The panel, with the parts that block on a user or depend on the machine played by the test. */
class PanelUnderTest : public UIComponent
{
public:
    using UIComponent::Environment;

    explicit PanelUnderTest (Environment environmentToUse) : UIComponent (std::move (environmentToUse)) {}

    Cloud::Interface& cloud()                                       { return cloudInterface; }
    const std::vector<Cloud::Remotefirmware>& listed() const        { return firmwareList; }
    std::shared_ptr<juce::TemporaryFile> lastDownload() const       { return downloadedFile; }
};

/**
    A panel that talks to a loopback service which knows the program's credentials, sends its
    transfers to a simulated synthesizer feeding the panel's collector, records its boxes and
    file dialogs instead of showing them, and runs on the system type the test chooses.
*/
class PanelFixture : public GuiTestFixture,
                     public WithLoopbackService
{
protected:
    struct Box
    {
        juce::String title, message;
    };

    struct ChooserCall
    {
        juce::String title;
        juce::File start;
        juce::String pattern;
    };

    PanelFixture()
    {
        service.knowClient (UIComponent::ClientUUID.toStdString(), UIComponent::ClientSecret.toStdString());
        folder.createDirectory();
    }

    ~PanelFixture() override
    {
        closePanel();
        folder.deleteRecursively();
    }

    /** Builds the panel; the service should be set up by now, for the panel asks it at once. */
    void openPanel (bool withSynthesizer = true)
    {
        PanelUnderTest::Environment environment;
        environment.operatingSystemType = [this] { return systemType; };
        environment.showWarning = [this] (const juce::String& title, const juce::String& message)
        {
            boxes.push_back ({ title, message });

            if (duringBox)
                duringBox();
        };
        environment.chooseFile = [this] (const juce::String& title, const juce::File& start, const juce::String& pattern)
        {
            chooserCalls.push_back ({ title, start, pattern });
            return chooserAnswer;
        };

        environment.quit = [this] { ++quitsAskedFor; };

        if (withSynthesizer)
            environment.transferOutput = &relay;

        panel = std::make_unique<PanelUnderTest> (std::move (environment));
        widgets = std::make_unique<PanelWidgets> (*panel);
        synth = std::make_unique<SimulatedSynthesizer> (panel->midiMessageCollector);
        relay.target = synth.get();
    }

    /** Destroys the panel, which waits for its requests; the service's record is complete then. */
    void closePanel()
    {
        relay.target = nullptr;
        synth.reset();
        widgets.reset();
        panel.reset();
    }

    std::vector<juce::var> reports() const
    {
        std::vector<juce::var> parsed;

        for (const auto& request : requestsTo (updateReportPath))
            parsed.push_back (juce::JSON::parse (juce::String (request.body)));

        return parsed;
    }

    bool waitForReports (size_t count, int timeoutMs = 30000)
    {
        return pumpUntil ([this, count] { return requestsTo (updateReportPath).size() >= count; }, timeoutMs);
    }

    /** Waits until the answer to the panel's list request has been handled. */
    void waitForFirmwareList()
    {
        ASSERT_TRUE (pumpUntil ([this]
        {
            return ! requestsTo (firmwareListPath).empty()
                && Cloud::InterfaceInspector::countRunningWorkers (panel->cloud()) == 0;
        }));
        drainMessages();
    }

    /** A record of the service's list, in JSON, whose file is at the given address. */
    static std::string record (const std::string& version, const std::string& binary)
    {
        return R"({"brand": "harvellon", "family": "kestrova", "model": "kestrovalx", "version": ")" + version
             + R"(", "updatedAt": "2026-10-01T12:00:00Z", "createdAt": "2026-09-30T08:15:00Z", "binary": ")" + binary
             + R"(", "md5": "9e107d9d372bb6826bd81d3542a419d6", "bytes": 870, "notes": ""})";
    }

    /** A record whose file lies at the given path of the service. */
    std::string recordAt (const std::string& version, const std::string& path) const
    {
        return record (version, service.address (path).toStdString());
    }

    /** A firmware file the gate lets through: a header of this version and two packets. */
    static Bytes firmware (const std::string& version = "1.1.0")
    {
        return FirmwareFileBuilder().header (version).packet (1).packet (2).bytes();
    }

    static std::string asText (const Bytes& bytes)
    {
        return { bytes.begin(), bytes.end() };
    }

    juce::File fileWith (const Bytes& bytes, const juce::String& name = "firmware.syx") const
    {
        return FirmwareFileBuilder().append (bytes).writeTo (folder.getChildFile (name));
    }

    /** Forwards to the simulated synthesizer, which can only be made once the panel's collector exists. */
    struct Relay : public MidiSender
    {
        void sendMessageNow (const juce::MidiMessage& message) override
        {
            if (target != nullptr)
                target->sendMessageNow (message);
        }

        SimulatedSynthesizer* target = nullptr;
    };

    Relay relay;
    Cloud::ScopedServiceAddress serviceAddress { service.baseURL() };

    int systemType = juce::SystemStats::Linux;
    std::vector<Box> boxes;
    std::function<void()> duringBox;
    std::vector<ChooserCall> chooserCalls;
    juce::File chooserAnswer;
    int quitsAskedFor = 0;

    const juce::File folder { juce::File::getSpecialLocation (juce::File::tempDirectory)
                                  .getChildFile ("PanelTest-" + juce::Uuid().toString()) };

    std::unique_ptr<PanelUnderTest> panel;
    std::unique_ptr<PanelWidgets> widgets;
    std::unique_ptr<SimulatedSynthesizer> synth;
};
