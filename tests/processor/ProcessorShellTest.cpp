#include "ProcessorTestUtils.h"
#include "settings/AppSettings.h"

#include <cstdlib>

using namespace qvn::test;

namespace
{
using ShellTest = ProcessorTest;

struct ParamSpec
{
    const char* id;
    const char* name;
    float min, max, step, def;
    const char* label;
};
} // namespace

TEST_F (ShellTest, FreshInstanceHasTheDocumentedDefaults)
{
    QuorvaneProcessor p;
    EXPECT_EQ (p.numSections.load(), 16);
    EXPECT_FALSE (p.showTooltips.load());
    EXPECT_EQ (p.tooltipLang.load(), 1);
    EXPECT_EQ (p.meterDispMode.load(), 1);
    EXPECT_EQ (p.measMode.load(), 0);
    EXPECT_FLOAT_EQ (p.rmsTimeSec.load(), 3.0f);
    EXPECT_EQ (p.hiddenVocalMask.load(), 0);
    EXPECT_EQ (p.getRole(), 0);
    EXPECT_EQ (p.getSectionOffset (0), 0.0f);
    EXPECT_FLOAT_EQ (p.getTargetLufs(), -18.0f);
    EXPECT_EQ (p.getInstOffsetDb(), 0.0f);
    EXPECT_EQ (p.customSettingsGeneration.load(), 1u);
    EXPECT_EQ (p.customSettings, CustomWeightedRmsSettings {});
    EXPECT_EQ (p.measuringSectionIndex(), -1);
    EXPECT_EQ (p.committedSection.load(), 0);
    EXPECT_EQ (p.deferredSectionIndex.load(), -1);
    EXPECT_EQ (p.uiSectionRequest.load(), -1);
    EXPECT_EQ (p.editorSectionEcho.load(), -1);
    EXPECT_FLOAT_EQ (p.instMeasuredLufs.load(), -120.0f);
    EXPECT_FLOAT_EQ (p.instTrimEnd.load(), 1.0f);
    EXPECT_EQ (p.currentAB, 0);
    EXPECT_TRUE (p.undoStack.empty());
    EXPECT_EQ (p.ownSlot->cancelMarker.load(), -1);

    for (const auto& s : p.sections)
    {
        EXPECT_FALSE (s.frozen.load());
        EXPECT_FLOAT_EQ (s.selfLufs.load(), -120.0f);
        EXPECT_FLOAT_EQ (s.trimEnd.load(), 1.0f);
        EXPECT_EQ (s.linkGroup.load(), 0);
    }

    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getBypassParameter(), nullptr);
}

TEST_F (ShellTest, TwentyParametersInHostOrderWithRangesDefaultsAndLabels)
{
    QuorvaneProcessor p;
    const auto& params = p.getParameters();
    ASSERT_EQ (params.size(), 20);

    auto* role = dynamic_cast<juce::AudioParameterChoice*> (params[0]);
    ASSERT_NE (role, nullptr);
    EXPECT_EQ (role->getParameterID(), "role");
    EXPECT_EQ (role->getName (64), "Role");
    EXPECT_EQ (role->choices, (juce::StringArray { juce::String (juce::CharPointer_UTF8 ("\xe2\x80\x94")), "Inst", "Vocal" }));
    EXPECT_EQ (role->getIndex(), 0);
    EXPECT_EQ (role->getVersionHint(), 1);

    auto* section = dynamic_cast<juce::AudioParameterChoice*> (params[1]);
    ASSERT_NE (section, nullptr);
    EXPECT_EQ (section->getParameterID(), "section");
    EXPECT_EQ (section->getName (64), "Section");
    ASSERT_EQ (section->choices.size(), 16);
    EXPECT_EQ (section->choices[0], "A");
    EXPECT_EQ (section->choices[15], "P");
    EXPECT_EQ (section->getIndex(), 0);

    std::vector<ParamSpec> floats;
    std::vector<std::string> ids_, names;
    for (int i = 0; i < 16; ++i)
    {
        ids_.push_back (std::string ("offset_") + char ('A' + i));
        names.push_back (std::string ("Offset ") + char ('A' + i));
    }
    for (int i = 0; i < 16; ++i)
        floats.push_back ({ ids_[(size_t) i].c_str(), names[(size_t) i].c_str(), -12.0f, 12.0f, 0.1f, 0.0f, "dB" });
    floats.push_back ({ "targetLufs", "Target LUFS", -36.0f, -6.0f, 0.1f, -18.0f, "LUFS" });
    floats.push_back ({ "instOffset", "Inst Offset", -6.0f, 6.0f, 0.1f, 0.0f, "dB" });

    for (size_t k = 0; k < floats.size(); ++k)
    {
        const auto& spec = floats[k];
        auto* f = dynamic_cast<juce::AudioParameterFloat*> (params[(int) k + 2]);
        ASSERT_NE (f, nullptr) << spec.id;
        EXPECT_EQ (f->getParameterID(), spec.id);
        EXPECT_EQ (f->getName (64), spec.name);
        EXPECT_EQ (f->getLabel(), spec.label);
        EXPECT_EQ (f->range.start, spec.min) << spec.id;
        EXPECT_EQ (f->range.end, spec.max) << spec.id;
        EXPECT_FLOAT_EQ (f->range.interval, spec.step) << spec.id;
        EXPECT_EQ (f->range.skew, 1.0f) << spec.id;
        EXPECT_FLOAT_EQ (f->get(), spec.def) << spec.id;
        EXPECT_FLOAT_EQ (f->convertFrom0to1 (static_cast<juce::AudioProcessorParameter*> (f)->getDefaultValue()), spec.def) << spec.id;
        EXPECT_EQ (f->getVersionHint(), 1);
        EXPECT_TRUE (f->isAutomatable());
    }

    EXPECT_EQ (p.parameters.state.getType().toString(), "params");
}

TEST_F (ShellTest, SectionOffsetReadsClampTheSectionIndex)
{
    QuorvaneProcessor p;
    setParam (p, "offset_A", 3.5f);
    setParam (p, "offset_P", -7.2f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (-3), 3.5f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (0), 3.5f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (99), -7.2f);
    EXPECT_FLOAT_EQ (p.getSectionOffset (15), -7.2f);
}

TEST_F (ShellTest, OffsetTargetNameIsTrimmedAndCutTo24Characters)
{
    QuorvaneProcessor p;
    const auto stored = [&p]
    {
        const std::lock_guard<std::mutex> lock (p.partnerMutex);
        return p.offsetTarget;
    };

    p.setOffsetTargetName ("   ABCDEFGHIJKLMNOPQRSTUVWXYZ01234  ");
    EXPECT_EQ (stored(), "ABCDEFGHIJKLMNOPQRSTUVWX");
    p.setOffsetTargetName ("123456789012345678901234");
    EXPECT_EQ (stored(), "123456789012345678901234");
    p.setOffsetTargetName (juce::CharPointer_UTF8 (" \xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab "));
    EXPECT_EQ (stored(), juce::String (juce::CharPointer_UTF8 ("\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab")));
    p.setOffsetTargetName ("    ");
    EXPECT_EQ (stored(), "");
}

TEST_F (ShellTest, InstanceNameIsTrimmedAndPublishedInTheSlot)
{
    QuorvaneProcessor p;
    EXPECT_EQ (p.ownSlot->name.load(), nullptr);
    p.setInstanceName ("  Lead Vox \t");
    ASSERT_NE (p.ownSlot->name.load(), nullptr);
    EXPECT_EQ (*p.ownSlot->name.load(), "Lead Vox");
    {
        const std::lock_guard<std::mutex> lock (p.partnerMutex);
        EXPECT_EQ (p.instanceName, "Lead Vox");
    }
    p.setInstanceName ("");
    ASSERT_NE (p.ownSlot->name.load(), nullptr);
    EXPECT_EQ (*p.ownSlot->name.load(), "");
}

TEST_F (ShellTest, BusLayouts)
{
    QuorvaneProcessor p;
    using CS = juce::AudioChannelSet;

    struct Case { CS in, out; bool ok; };
    const Case cases[] = {
        { CS::mono(), CS::mono(), true },
        { CS::stereo(), CS::stereo(), true },
        { CS::mono(), CS::stereo(), false },
        { CS::stereo(), CS::mono(), false },
        { CS::create5point1(), CS::create5point1(), false },
        { CS::quadraphonic(), CS::quadraphonic(), false },
        { CS::disabled(), CS::stereo(), false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.in);
        layout.outputBuses.add (c.out);
        EXPECT_EQ (p.checkBusesLayoutSupported (layout), c.ok) << c.in.getDescription() << " -> " << c.out.getDescription();
    }

    juce::AudioProcessor::BusesLayout noInput;
    noInput.outputBuses.add (CS::stereo());
    EXPECT_FALSE (p.checkBusesLayoutSupported (noInput));
}

TEST_F (ShellTest, PrepareToPlayRestartsTrackingAndKeepsResults)
{
    QuorvaneProcessor p;
    p.sections[4].frozen.store (true);
    p.sections[4].gainDb.store (2.5f);
    p.sections[4].selfHistory = { 1.0e-3, 2.0e-3 };
    p.instFrozen.store (true);
    setParam (p, ids::section, 6.0f);

    p.prepareToPlay (48000.0, 512);
    EXPECT_EQ (p.committedSection.load(), 6);
    EXPECT_TRUE (p.sectionCommit.initialised);
    EXPECT_DOUBLE_EQ (p.preparedSampleRate, 48000.0);
    EXPECT_EQ (p.sectionRun.runSection, -1);

    p.sectionCommit.pendingSection = 3;
    p.playbackSamples = 1234;
    p.prepareToPlay (96000.0, 64);
    EXPECT_DOUBLE_EQ (p.preparedSampleRate, 96000.0);
    EXPECT_EQ (p.sectionCommit.pendingSection, -1);
    EXPECT_EQ (p.playbackSamples, 0);
    EXPECT_EQ (p.liveIntegratedSection, -1);
    EXPECT_TRUE (p.sections[4].frozen.load());
    EXPECT_FLOAT_EQ (p.sections[4].gainDb.load(), 2.5f);
    EXPECT_EQ (p.sections[4].selfHistory.size(), 2u);
    EXPECT_TRUE (p.instFrozen.load());
}

TEST_F (ShellTest, SectionStateCopiesEveryField)
{
    QuorvaneProcessor::SectionState a;
    a.frozen = true;
    a.selfLufs = -20.0f;
    a.partnerLufs = -14.0f;
    a.gainDb = 4.0f;
    a.trimStart = 0.25f;
    a.selfHistory = { 1.0, 2.0 };
    a.selfFrames = std::make_shared<const std::vector<AnalysisFrame>> (3);
    a.locked = true;
    a.linkGroup = 2;

    QuorvaneProcessor::SectionState b (a);
    EXPECT_TRUE (b.frozen.load());
    EXPECT_FLOAT_EQ (b.gainDb.load(), 4.0f);
    EXPECT_FLOAT_EQ (b.trimStart.load(), 0.25f);
    EXPECT_EQ (b.selfHistory, a.selfHistory);
    EXPECT_EQ (b.selfFrames, a.selfFrames);
    EXPECT_TRUE (b.locked.load());
    EXPECT_EQ (b.linkGroup.load(), 2);

    QuorvaneProcessor::UndoSnapshot snap;
    snap.sections[3] = a;
    auto moved = std::move (snap);
    EXPECT_FLOAT_EQ (moved.sections[3].partnerLufs.load(), -14.0f);
}

TEST_F (ShellTest, TransportLinkComesFromTheUserSetting)
{
    const juce::TemporaryFile config;
    ASSERT_TRUE (config.getFile().createDirectory());
    setenv ("XDG_CONFIG_HOME", config.getFile().getFullPathName().toRawUTF8(), 1);

    {
        QuorvaneProcessor p;
        EXPECT_FALSE (p.linkMeasurementToTransport.load()); // no file yet
    }

    AppSettings::get().setLinkMeasurementToTransport (true);
    QuorvaneProcessor p;
    EXPECT_TRUE (p.linkMeasurementToTransport.load());
}
