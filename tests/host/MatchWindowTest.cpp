// A user's MATCH session with the built bundle, as a host runs it: an Inst and
// a Vocal instance of the bundle in one host process, each with its editor in
// a real window on an X server of the test's own. The roles are chosen by
// clicking the role tabs and MATCH TO INST is clicked with a real pointer
// (xdotool) while one host audio thread plays known signals through both
// tracks. What the Vocal then does to its audio and what it saves is checked
// against libebur128 on the same signals and numbers worked out by hand; the
// button's caption is read from pictures of the real window.

#include "HostFixture.h"
#include "HostWindow.h"

#include "editor/PluginEditor.h"
#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"
#include "ui/UiComponents.h"

#include <ebur128.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <cmath>
#include <thread>
#include <vector>

namespace
{
using qvn::test::HostWindow;
using qvn::test::XServer;

const auto* const xServer = ::testing::AddGlobalTestEnvironment (new XServer());

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
constexpr int kChannels = 2;

// The Vocal plays a steady 1 kHz sine of this peak level in both channels:
// 20 log10 (0.05) = -26.02 LUFS by hand (a full-scale 1 kHz sine reads
// -3.01 LUFS in one channel, so 0.00 in two; the -0.691 of the loudness
// formula cancels the K-weighting's gain at 1 kHz).
constexpr float kVocalPeak = 0.05f;
constexpr double kVocalLufsByHand = -26.02;
// The Inst plays pink noise about 6 dB louder than that.
constexpr float kInstScale = 0.042f;
// The Offset Gain of section A, set by the host before the measurement.
constexpr float kOffsetDb = -1.5f;

//==============================================================================
/** The host's transport: a position that moves while it plays. */
class HostTransport : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        const auto samples = position.load();
        info.setIsPlaying (playing.load());
        info.setTimeInSamples (samples);
        info.setTimeInSeconds ((double) samples / kRate);
        info.setBpm (120.0);
        return info;
    }

    std::atomic<juce::int64> position { 0 };
    std::atomic<bool> playing { false };
};

/** Pink-ish noise (a sum of three one-pole filters over white noise). */
class PinkNoise
{
public:
    explicit PinkNoise (juce::int64 seed) : rng (seed) {}

    float next() noexcept
    {
        const float white = rng.nextFloat() * 2.0f - 1.0f;
        b0 = 0.99765f * b0 + white * 0.0990460f;
        b1 = 0.96300f * b1 + white * 0.2965164f;
        b2 = 0.57000f * b2 + white * 1.0526913f;
        return b0 + b1 + b2 + white * 0.1848f;
    }

private:
    juce::Random rng;
    float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f;
};

//==============================================================================
/** The host's audio thread for the two tracks: each block it renders the Inst
    track and then the Vocal track at the pace of real time, and keeps the
    inputs and the energy of every block before and after each instance. */
class TwoTrackSession
{
public:
    static constexpr int kMaxBlocks = (int) (60.0 * kRate / kBlock);

    TwoTrackSession (juce::AudioPluginInstance& instTrack, juce::AudioPluginInstance& vocalTrack, bool playing)
        : inst (instTrack), vocal (vocalTrack)
    {
        playRequest = playing;
        instInput.resize ((size_t) kMaxBlocks * kBlock * kChannels);
        vocalInput.resize ((size_t) kMaxBlocks * kBlock * kChannels);
        for (auto* e : { &instInEnergy, &instOutEnergy, &vocalInEnergy, &vocalOutEnergy })
            e->resize ((size_t) kMaxBlocks);

        for (auto* p : { &inst, &vocal })
        {
            p->setPlayConfigDetails (kChannels, kChannels, kRate, kBlock);
            p->prepareToPlay (kRate, kBlock);
            p->setPlayHead (&transport);
        }

        thread = std::thread ([this] { run(); });
    }

    ~TwoTrackSession()
    {
        stop = true;
        thread.join();
        for (auto* p : { &inst, &vocal })
        {
            p->releaseResources();
            p->setPlayHead (nullptr);
        }
    }

    int blocksDone() const { return blocks.load (std::memory_order_acquire); }

    /** The user presses play or stop in the host; the transport changes at the
        start of the next block, whose index is kept. */
    void setPlaying (bool play) { playRequest = play; }
    int lastPlayBlock() const { return playBlock.load(); }
    int lastStopBlock() const { return stopBlock.load(); }

    /** Output over input of the Vocal, in dB, over the blocks [from, to). */
    double vocalGainDb (int from, int to) const { return ratioDb (vocalInEnergy, vocalOutEnergy, from, to); }
    double instGainDb (int from, int to) const { return ratioDb (instInEnergy, instOutEnergy, from, to); }

    /** The largest deviation of the Inst's output from its input, in dB, over single blocks. */
    double largestInstChangeDb (int from, int to) const
    {
        double worst = 0.0;
        for (int b = from; b < to; ++b)
            worst = std::max (worst, std::abs (ratioDb (instInEnergy, instOutEnergy, b, b + 1)));
        return worst;
    }

    /** libebur128's integrated loudness of what a track received over the blocks [from, to). */
    double instLoudness (int from, int to) const { return loudness (instInput, from, to); }
    double vocalLoudness (int from, int to) const { return loudness (vocalInput, from, to); }

    static void fillVocal (juce::AudioBuffer<float>& buffer, juce::int64 firstSample)
    {
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            // The phase from the sample index alone: 48 samples per period.
            const auto phase = (double) ((firstSample + i) % 48) / 48.0;
            const auto v = kVocalPeak * (float) std::sin (juce::MathConstants<double>::twoPi * phase);
            for (int c = 0; c < buffer.getNumChannels(); ++c)
                buffer.setSample (c, i, v);
        }
    }

private:
    void run()
    {
        juce::AudioBuffer<float> instBuffer (kChannels, kBlock), vocalBuffer (kChannels, kBlock);
        juce::MidiBuffer midi;
        PinkNoise left (11), right (23);
        const auto blockTime = std::chrono::duration<double> ((double) kBlock / kRate);
        const auto start = std::chrono::steady_clock::now();
        juce::int64 position = 0;

        for (int b = 0; ! stop.load() && b < kMaxBlocks; ++b)
        {
            const auto first = (juce::int64) b * kBlock;
            for (int i = 0; i < kBlock; ++i)
            {
                instBuffer.setSample (0, i, kInstScale * left.next());
                instBuffer.setSample (1, i, kInstScale * right.next());
            }
            fillVocal (vocalBuffer, first);

            keep (instBuffer, instInput, instInEnergy, b);
            keep (vocalBuffer, vocalInput, vocalInEnergy, b);

            if (const bool play = playRequest.load(); play != transport.playing.load())
            {
                transport.playing = play;
                (play ? playBlock : stopBlock).store (b);
            }
            transport.position.store (position);
            if (transport.playing.load())
                position += kBlock;
            inst.processBlock (instBuffer, midi);
            vocal.processBlock (vocalBuffer, midi);
            midi.clear();

            instOutEnergy[(size_t) b] = energy (instBuffer);
            vocalOutEnergy[(size_t) b] = energy (vocalBuffer);
            blocks.store (b + 1, std::memory_order_release);

            // Real time: a late block is followed at once by the next.
            std::this_thread::sleep_until (start + std::chrono::duration_cast<std::chrono::steady_clock::duration> (blockTime * (b + 1)));
        }
    }

    static double energy (const juce::AudioBuffer<float>& buffer)
    {
        double sum = 0.0;
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                sum += (double) buffer.getSample (c, i) * (double) buffer.getSample (c, i);
        return sum;
    }

    static void keep (const juce::AudioBuffer<float>& buffer, std::vector<float>& interleaved, std::vector<double>& energies, int b)
    {
        auto* out = interleaved.data() + (size_t) b * kBlock * kChannels;
        for (int i = 0; i < kBlock; ++i)
            for (int c = 0; c < kChannels; ++c)
                *out++ = buffer.getSample (c, i);
        energies[(size_t) b] = energy (buffer);
    }

    double ratioDb (const std::vector<double>& in, const std::vector<double>& out, int from, int to) const
    {
        to = std::min (to, blocksDone());
        double a = 0.0, b = 0.0;
        for (int i = std::max (0, from); i < to; ++i)
        {
            a += in[(size_t) i];
            b += out[(size_t) i];
        }
        return a > 0.0 && b > 0.0 ? 10.0 * std::log10 (b / a) : -999.0;
    }

    double loudness (const std::vector<float>& interleaved, int from, int to) const
    {
        to = std::min (to, blocksDone());
        auto* st = ebur128_init ((unsigned) kChannels, (unsigned long) kRate, EBUR128_MODE_I);
        if (to > from)
            ebur128_add_frames_float (st, interleaved.data() + (size_t) from * kBlock * kChannels, (size_t) (to - from) * kBlock);
        double out = -999.0;
        ebur128_loudness_global (st, &out);
        ebur128_destroy (&st);
        return out;
    }

    juce::AudioPluginInstance& inst;
    juce::AudioPluginInstance& vocal;
    HostTransport transport;
    std::atomic<bool> playRequest { false };
    std::atomic<int> playBlock { -1 }, stopBlock { -1 };
    std::vector<float> instInput, vocalInput;
    std::vector<double> instInEnergy, instOutEnergy, vocalInEnergy, vocalOutEnergy;
    std::atomic<int> blocks { 0 };
    std::atomic<bool> stop { false };
    std::thread thread;
};

//==============================================================================
void setLocalRole (QuorvaneProcessor& p, float role)
{
    auto* param = p.parameters.getParameter (ids::role);
    param->setValueNotifyingHost (param->convertTo0to1 (role));
    p.handleUpdateNowIfNeeded();
}

/** Where the controls are in the plug-in's window: the editor's own layout,
    run here on copies of the processor and editor built into this test
    program, for the same roles and links as the bundle's instances. */
struct WindowLayout
{
    juce::Rectangle<int> instTab, vocalTab, matchButton, settingsButton;
    juce::Rectangle<int> instView, vocalView;
    // The Vocal's settings menu: its height and the middle of its "Link
    // measurement to transport" item, from the menu's top edge.
    int settingsMenuHeight = 0, transportItemY = 0;

    static WindowLayout make()
    {
        WindowLayout out;
        QuorvaneProcessor inst, vocal;
        {
            QuorvaneEditor unassigned (vocal);
            unassigned.timerCallback();
            out.instTab = unassigned.instTab.getBounds();
            out.vocalTab = unassigned.vocalTab.getBounds();
        }

        setLocalRole (inst, 1.0f);
        setLocalRole (vocal, 2.0f);

        QuorvaneEditor vocalEditor (vocal), instEditor (inst);
        for (int tick = 0; tick < 3; ++tick)
        {
            vocalEditor.timerCallback();
            instEditor.timerCallback();
        }
        out.matchButton = vocalEditor.matchButton.getBounds();
        out.settingsButton = vocalEditor.settingsButton.getBounds();
        out.vocalView = vocalEditor.getLocalBounds();
        out.instView = instEditor.getLocalBounds();

        // The menu stacks its items from its border down, each at the height
        // its look asks for.
        auto& look = vocalEditor.menuLook;
        const auto options = juce::PopupMenu::Options().withTargetComponent (&vocalEditor.settingsButton);
        const auto menu = vocalEditor.buildSettingsMenu();
        int y = look.getPopupMenuBorderSizeWithOptions (options);
        for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        {
            const auto& item = it.getItem();
            int w = 0, h = 0;
            look.getIdealPopupMenuItemSizeWithOptions (item.text, item.isSeparator, options.getStandardItemHeight(), w, h, options);
            if (item.itemID == 43)
                out.transportItemY = y + h / 2;
            y += h;
        }
        out.settingsMenuHeight = y + look.getPopupMenuBorderSizeWithOptions (options);
        return out;
    }
};

//==============================================================================
/** Reads the MATCH button's caption from a picture of the window: the button
    is drawn here by the plug-in's own button class for every caption it can
    show, and the drawing closest to the picture names the caption. The
    pulsing dot of the measuring look is left out of the comparison. */
class CaptionReader
{
public:
    explicit CaptionReader (juce::Rectangle<int> buttonBounds) : size (buttonBounds.withZeroOrigin())
    {
        const std::pair<const char*, bool> captions[] = { { "MATCH TO INST", false }, { "STOP", true },
                                                          { "STOPS WITH PLAYBACK", true }, { "WAITING FOR PLAY", true },
                                                          { "Learn", false } };
        for (auto [text, measuring] : captions)
            candidates.push_back ({ text, draw (text, measuring, 0.0f), draw (text, measuring, 1.0f) });
    }

    /** The caption the picture shows at the given place, "?" when none fits. */
    juce::String read (const juce::Image& shot, juce::Point<int> buttonTopLeft, double* difference = nullptr) const
    {
        juce::String best = "?";
        double bestDiff = 1.0e9;
        for (auto& c : candidates)
        {
            const auto d = differenceTo (shot, buttonTopLeft, c);
            if (d < bestDiff)
            {
                bestDiff = d;
                best = c.text;
            }
        }
        if (difference != nullptr)
            *difference = bestDiff;
        // Text strokes that differ make tens of levels of mean difference;
        // the same drawing differs by rounding at most.
        return bestDiff < 4.0 ? best : juce::String ("?");
    }

private:
    struct Candidate
    {
        juce::String text;
        juce::Image pulseLow, pulseHigh;
    };

    juce::Image draw (const juce::String& text, bool measuring, float pulse) const
    {
        ProgressButton button;
        button.setSize (size.getWidth(), size.getHeight());
        button.setButtonText (text);
        button.isMeasuring = measuring;
        button.pulse = pulse;
        juce::Image image (juce::Image::ARGB, size.getWidth(), size.getHeight(), true);
        juce::Graphics g (image);
        button.paintEntireComponent (g, false);
        return image;
    }

    /** Mean difference per channel over the button's inside (its rounded
        edge shows the window behind it), without the pulsing pixels. */
    double differenceTo (const juce::Image& shot, juce::Point<int> origin, const Candidate& c) const
    {
        double sum = 0.0;
        int count = 0;
        for (int y = 4; y < size.getHeight() - 4; ++y)
            for (int x = 6; x < size.getWidth() - 6; ++x)
            {
                const auto a = c.pulseLow.getPixelAt (x, y);
                if (a != c.pulseHigh.getPixelAt (x, y))
                    continue;
                const int sx = origin.x + x, sy = origin.y + y;
                if (sx < 0 || sy < 0 || sx >= shot.getWidth() || sy >= shot.getHeight())
                    return 1.0e9;
                const auto b = shot.getPixelAt (sx, sy);
                sum += std::abs ((int) a.getRed() - (int) b.getRed()) + std::abs ((int) a.getGreen() - (int) b.getGreen())
                       + std::abs ((int) a.getBlue() - (int) b.getBlue());
                count += 3;
            }
        return count > 0 ? sum / count : 1.0e9;
    }

    juce::Rectangle<int> size;
    std::vector<Candidate> candidates;
};

//==============================================================================
/** Reads the values of the Vocal's level and gain cards from a picture of the
    window: the editor's copy built into this program, with its refresh
    stopped, draws the card around a value with the text in question (in each
    colour the refresh gives values), and a drawing that equals the picture
    shows that the window holds that text. */
class CardReader
{
public:
    CardReader()
    {
        setLocalRole (inst, 1.0f);
        setLocalRole (vocal, 2.0f);
        editor = std::make_unique<QuorvaneEditor> (vocal);
        for (int tick = 0; tick < 3; ++tick)
            editor->timerCallback();
        editor->stopTimer();
    }

    ~CardReader() { editor.reset(); }

    using Value = juce::Label QuorvaneEditor::*;

    /** The smallest mean difference per channel between the picture and the
        card drawn with the text (0 when they are the same drawing). */
    double difference (const juce::Image& shot, juce::Point<int> viewOrigin, Value which, const juce::String& text)
    {
        auto& label = (*editor).*which;
        const auto area = editor->getLocalArea (&label, label.getLocalBounds());
        double best = 1.0e9;
        for (auto colour : { 0xffeaefe9u, 0xff7e7f83u, 0xffe0922fu, 0xff7cf2c8u })
        {
            label.setText (text, juce::dontSendNotification);
            label.setColour (juce::Label::textColourId, juce::Colour (colour));
            const auto drawn = editor->createComponentSnapshot (area, true, 1.0f);
            double sum = 0.0;
            int count = 0;
            for (int y = 0; y < area.getHeight(); ++y)
                for (int x = 0; x < area.getWidth(); ++x)
                {
                    const auto a = drawn.getPixelAt (x, y);
                    const auto b = shot.getPixelAt (viewOrigin.x + area.getX() + x, viewOrigin.y + area.getY() + y);
                    sum += std::abs ((int) a.getRed() - (int) b.getRed()) + std::abs ((int) a.getGreen() - (int) b.getGreen())
                           + std::abs ((int) a.getBlue() - (int) b.getBlue());
                    count += 3;
                }
            best = std::min (best, count > 0 ? sum / count : 1.0e9);
        }
        return best;
    }

private:
    QuorvaneProcessor inst, vocal;
    std::unique_ptr<QuorvaneEditor> editor;
};

/** A value as the window writes it: one decimal, "+" for 0 and up when signed. */
juce::String oneDecimal (double value, bool sign)
{
    const auto rounded = std::round (value * 10.0) / 10.0;
    return (sign && rounded >= 0.0 ? "+" : "") + juce::String (rounded, 1);
}

//==============================================================================
/** The finished result of one section in a saved state of the plug-in. */
struct SavedSection
{
    bool found = false, frozen = false;
    float gainDb = 0.0f, selfLufs = -120.0f, partnerLufs = -120.0f, seconds = 0.0f, offset = 0.0f;
};

SavedSection savedSection (juce::AudioPluginInstance& p, int index)
{
    SavedSection out;
    const auto blob = qvn::test::componentStateOf (p);
    const auto xml = juce::AudioProcessor::getXmlFromBinary (blob.getData(), (int) blob.getSize());
    if (xml == nullptr)
        return out;
    const auto state = juce::ValueTree::fromXml (*xml);
    const auto applied = state.getChildWithName ("applied");
    for (const auto& node : applied)
        if (node.hasType ("section") && (int) node.getProperty ("idx", -1) == index)
        {
            out.found = true;
            out.frozen = (int) node.getProperty ("frozen", 0) != 0;
            out.gainDb = (float) node.getProperty ("gainDb", 0.0);
            out.selfLufs = (float) node.getProperty ("selfLufs", -120.0);
            out.partnerLufs = (float) node.getProperty ("partnerLufs", -120.0);
            out.seconds = (float) node.getProperty ("seconds", 0.0);
        }
    // The Offset Gain is a host parameter, saved in the parameter tree.
    const auto offsetId = "offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + index));
    for (const auto& node : state)
        if (node.hasType ("PARAM") && node.getProperty ("id").toString() == offsetId)
            out.offset = (float) node.getProperty ("value", 0.0);
    return out;
}

juce::AudioProcessorParameter* parameterNamed (juce::AudioPluginInstance& p, const juce::String& name)
{
    for (auto* param : p.getParameters())
        if (param->getName (64) == name)
            return param;
    return nullptr;
}

/** The X windows at the top of the screen: id and place. */
std::map<juce::String, juce::Rectangle<int>> topLevelWindows()
{
    std::map<juce::String, juce::Rectangle<int>> out;
    const auto lines = juce::StringArray::fromLines (qvn::test::runTool ({ "xwininfo", "-root", "-children" }));
    for (auto line : lines)
    {
        line = line.trim();
        if (! line.startsWith ("0x"))
            continue;
        // "0x1a00007 (has no name): ()  232x265+1710+72  +1710+72"
        const auto id = line.upToFirstOccurrenceOf (" ", false, false);
        auto tokens = juce::StringArray::fromTokens (line.fromLastOccurrenceOf (")", false, false), " ", "");
        tokens.removeEmptyStrings();
        const auto geometry = tokens[0];
        const auto size = geometry.upToFirstOccurrenceOf ("+", false, false);
        const auto place = geometry.fromFirstOccurrenceOf ("+", false, false);
        out[id] = { place.upToFirstOccurrenceOf ("+", false, false).getIntValue(),
                    place.fromFirstOccurrenceOf ("+", false, false).getIntValue(),
                    size.upToFirstOccurrenceOf ("x", false, false).getIntValue(),
                    size.fromFirstOccurrenceOf ("x", false, false).getIntValue() };
    }
    return out;
}

/** Two tracks of one host session: an Inst and a Vocal instance of the bundle
    with their windows open, the roles given with the role tabs. */
class MatchWindow : public qvn::test::HostTest
{
protected:
    void SetUp() override
    {
        ASSERT_GE (XServer::display, 0) << "no X server";
        HostTest::SetUp();
    }

    void TearDown() override
    {
        vocalWindow.reset();
        instWindow.reset();
        session.reset();
        cards.reset();
        vocal.reset();
        inst.reset();
    }

    void openSession (bool playing)
    {
        layout = WindowLayout::make();
        captions = std::make_unique<CaptionReader> (layout.matchButton);
        cards = std::make_unique<CardReader>();
        screenDir().createDirectory();

        inst = load (kRate, kBlock);
        vocal = load (kRate, kBlock);
        ASSERT_NE (inst, nullptr);
        ASSERT_NE (vocal, nullptr);
        ASSERT_EQ (inst->getParameters()[0]->getName (64), "Role");

        session = std::make_unique<TwoTrackSession> (*inst, *vocal, playing);
        instWindow = std::make_unique<HostWindow> (inst->createEditorIfNeeded(), juce::Point<int> (40, 40));
        vocalWindow = std::make_unique<HostWindow> (vocal->createEditorIfNeeded(), juce::Point<int> (1200, 40));
        auto* instView = instWindow->getContentComponent();
        auto* vocalView = vocalWindow->getContentComponent();
        ASSERT_NE (instView, nullptr);
        ASSERT_NE (vocalView, nullptr);
        pumpUntil ([&] { return instWindow->isShowing() && vocalWindow->isShowing() && instView->getWidth() > 0; }, 5000);
        keepPicture (*instWindow, "match_unassigned");

        // The user gives the roles with the tabs of each window.
        click (*instWindow, layout.instTab.getCentre());
        pumpUntil ([&] { return std::abs (inst->getParameters()[0]->getValue() - 0.5f) < 0.01f; }, 5000);
        ASSERT_NEAR (inst->getParameters()[0]->getValue(), 0.5f, 0.01f) << "the INST tab gives the Inst role";

        click (*vocalWindow, layout.vocalTab.getCentre());
        pumpUntil ([&] { return std::abs (vocal->getParameters()[0]->getValue() - 1.0f) < 0.01f; }, 5000);
        ASSERT_NEAR (vocal->getParameters()[0]->getValue(), 1.0f, 0.01f) << "the VOCAL tab gives the Vocal role";

        // The windows take the sizes of their roles, as the layout copy has them.
        pumpUntil ([&] { return instView->getLocalBounds() == layout.instView && vocalView->getLocalBounds() == layout.vocalView; }, 5000);
        ASSERT_EQ (vocalView->getLocalBounds(), layout.vocalView);
        ASSERT_EQ (instView->getLocalBounds(), layout.instView);

        // Section A's Offset Gain, set by the host: before any measurement the
        // Vocal applies it alone.
        auto* offsetA = parameterNamed (*vocal, "Offset A");
        ASSERT_NE (offsetA, nullptr);
        offsetA->beginChangeGesture();
        offsetA->setValueNotifyingHost ((kOffsetDb + 12.0f) / 24.0f);
        offsetA->endChangeGesture();
        pumpUntil ([&] { return std::abs (recentVocalGain() - kOffsetDb) < 0.01; }, 10000);
        EXPECT_NEAR (recentVocalGain(), kOffsetDb, 0.01) << "the Offset Gain alone before a result";
    }

    /** A real pointer clicks a point of a window's view, then leaves both windows. */
    static void click (HostWindow& window, juce::Point<int> viewPoint)
    {
        qvn::test::clickAt (window.screenPointOfView (viewPoint));
        qvn::test::movePointerTo ({ 2300, 1500 });
    }

    void clickMatch() { click (*vocalWindow, layout.matchButton.getCentre()); }

    /** The Vocal's gain over its last ten blocks, in dB. */
    double recentVocalGain() const
    {
        const int n = session->blocksDone();
        return session->vocalGainDb (n - 10, n);
    }

    /** Pictures of the Vocal's window until its MATCH button shows the caption (or the time is up). */
    juce::String waitForCaption (const juce::String& expected, int timeoutMs)
    {
        const auto xwd = screenDir().getChildFile ("caption.xwd");
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        juce::String seen;
        double diff = 0.0;
        do
        {
            pumpMessages (40);
            const auto shot = qvn::test::dumpWindow (vocalWindow->xWindowId(), xwd);
            seen = captions->read (shot, vocalWindow->viewOriginInWindow() + layout.matchButton.getPosition(), &diff);
        } while (seen != expected && juce::Time::getMillisecondCounter() < end);
        xwd.deleteFile();
        if (seen != expected)
            ADD_FAILURE() << "caption seen: " << seen << " (difference " << diff << "), expected " << expected;
        return seen;
    }

    /** Opens the Vocal's settings menu with the pointer and clicks its
        "Link measurement to transport" item. */
    void clickTransportLinkItem()
    {
        const auto before = topLevelWindows();
        click (*vocalWindow, layout.settingsButton.getCentre());

        juce::Rectangle<int> menu;
        pumpUntil ([&]
        {
            for (auto& [id, bounds] : topLevelWindows())
                if (before.count (id) == 0 && std::abs (bounds.getHeight() - layout.settingsMenuHeight) <= 2)
                    menu = bounds;
            return ! menu.isEmpty();
        }, 5000);
        ASSERT_FALSE (menu.isEmpty()) << "the settings menu opens";
        pumpMessages (200);   // the menu ignores clicks in its first moments

        qvn::test::clickAt ({ menu.getCentreX(), menu.getY() + layout.transportItemY });
        qvn::test::movePointerTo ({ 2300, 1500 });
        pumpUntil ([&]
        {
            const auto now = topLevelWindows();
            return std::none_of (now.begin(), now.end(), [&] (auto& w) { return w.second == menu; });
        }, 5000);
    }

    /** The transport link as the bundle's own copy of the settings store saved it. */
    static bool storedTransportLink()
    {
        SettingsFile settings (AppSettings::settingsFileLocation(), {});
        return settings.getBoolValue ("linkMeasurementToTransport", false);
    }

    /** Pictures of the Vocal's window until its cards show the section's
        result (or the time is up): both levels, the Match Gain and the total.
        The cards add up as shown: the Match Gain is the difference of the two
        levels as written, the total that plus the Offset Gain as written. */
    void expectCardsShow (const SavedSection& result, int timeoutMs)
    {
        const auto shown = [] (double v) { return std::round (v * 10.0) / 10.0; };
        const auto match = shown (result.partnerLufs) - shown (result.selfLufs);
        const std::pair<CardReader::Value, juce::String> values[] = {
            { &QuorvaneEditor::vocalLufsValue, oneDecimal (result.selfLufs, false) },
            { &QuorvaneEditor::instLufsValue, oneDecimal (result.partnerLufs, false) },
            { &QuorvaneEditor::matchValue, oneDecimal (match, true) },
            { &QuorvaneEditor::totalValue, oneDecimal (match + shown (result.offset), true) },
        };
        const auto xwd = screenDir().getChildFile ("cards.xwd");
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        juce::String wrong;
        do
        {
            pumpMessages (40);
            const auto shot = qvn::test::dumpWindow (vocalWindow->xWindowId(), xwd);
            wrong.clear();
            for (auto& [value, text] : values)
                if (const auto d = cards->difference (shot, vocalWindow->viewOriginInWindow(), value, text); d > 1.0)
                    wrong << "not " << text << " (difference " << d << ") ";
        } while (wrong.isNotEmpty() && juce::Time::getMillisecondCounter() < end);
        xwd.deleteFile();
        EXPECT_TRUE (wrong.isEmpty()) << "the window's cards show " << wrong;
    }

    static juce::File screenDir() { return juce::File (QVN_HOST_SCREEN_DIR); }

    /** Saves a picture of the window under the build folder. */
    static void keepPicture (HostWindow& window, const juce::String& name)
    {
        const auto shot = qvn::test::dumpPaintedWindow (window.xWindowId(), screenDir().getChildFile (name + ".xwd"));
        screenDir().getChildFile (name + ".xwd").deleteFile();
        EXPECT_TRUE (shot.isValid()) << name;
        if (shot.isValid())
            EXPECT_TRUE (qvn::test::savePng (shot, screenDir().getChildFile (name + ".png"))) << name;
    }

    WindowLayout layout;
    std::unique_ptr<CaptionReader> captions;
    std::unique_ptr<CardReader> cards;
    std::unique_ptr<juce::AudioPluginInstance> inst, vocal;
    std::unique_ptr<TwoTrackSession> session;
    std::unique_ptr<HostWindow> instWindow, vocalWindow;
};
} // namespace

//==============================================================================
TEST_F (MatchWindow, MatchToInstClickedInTheRealWindowMeasuresAppliesAndSavesTheSectionGain)
{
    // The transport link stays off (its default), so a running measurement
    // shows "STOP"; the plug-in reads the same settings file.
    AppSettings::get().setLinkMeasurementToTransport (false);
    AppSettings::get().setSidebarVisible (true);
    ASSERT_NO_FATAL_FAILURE (openSession (true));

    EXPECT_EQ (waitForCaption ("MATCH TO INST", 5000), "MATCH TO INST");
    keepPicture (*instWindow, "match_inst_before");
    keepPicture (*vocalWindow, "match_vocal_before");

    // MATCH TO INST, clicked: the Vocal measures section A with the Inst.
    clickMatch();
    const int startBlock = session->blocksDone();
    ASSERT_EQ (waitForCaption ("STOP", 5000), "STOP") << "the first click starts the measurement";
    const int startSeenBlock = session->blocksDone();

    // While the section is measured the Vocal leaves its audio alone.
    pumpUntil ([&] { return std::abs (recentVocalGain()) < 0.01; }, 5000);
    EXPECT_NEAR (recentVocalGain(), 0.0, 0.01) << "no gain while the section is measured";

    // About 8 s of audio.
    const int eightSeconds = (int) std::ceil (8.0 * kRate / kBlock);
    pumpUntil ([&] { return session->blocksDone() >= startBlock + eightSeconds / 2; }, 30000);
    keepPicture (*instWindow, "match_inst_during");
    keepPicture (*vocalWindow, "match_vocal_during");
    EXPECT_EQ (waitForCaption ("STOP", 3000), "STOP");
    pumpUntil ([&] { return session->blocksDone() >= startBlock + eightSeconds; }, 30000);
    ASSERT_GE (session->blocksDone(), startBlock + eightSeconds) << "the audio thread kept up";

    // MATCH again: the measurement ends and section A gets its result.
    const int stopBlock = session->blocksDone();
    clickMatch();
    EXPECT_EQ (waitForCaption ("MATCH TO INST", 5000), "MATCH TO INST");

    SavedSection saved;
    pumpUntil ([&] { saved = savedSection (*vocal, 0); return saved.frozen; }, 10000);
    ASSERT_TRUE (saved.found);
    ASSERT_TRUE (saved.frozen) << "section A holds a result after the second click";
    const int resultSeenBlock = session->blocksDone();

    // The references: libebur128 on what each track received between the
    // two clicks, and the Vocal's level by hand.
    const double instRef = session->instLoudness (startBlock, stopBlock);
    const double vocalRef = session->vocalLoudness (startBlock, stopBlock);
    EXPECT_NEAR (vocalRef, kVocalLufsByHand, 0.05);
    EXPECT_NEAR (instRef - vocalRef, 6.0, 1.0) << "the Inst plays about 6 dB louder";
    const double expectedGain = instRef - vocalRef + kOffsetDb;
    std::printf ("references: inst %.3f LUFS, vocal %.3f LUFS, expected gain %.3f dB; saved: inst %.3f, vocal %.3f, "
                 "gain %.3f dB over %.2f s\n", instRef, vocalRef, expectedGain, saved.partnerLufs, saved.selfLufs,
                 saved.gainDb, saved.seconds);

    EXPECT_NEAR (saved.selfLufs, vocalRef, 0.1);
    EXPECT_NEAR (saved.partnerLufs, instRef, 0.1);
    EXPECT_NEAR (saved.offset, kOffsetDb, 0.001);
    EXPECT_NEAR (saved.gainDb, saved.partnerLufs - saved.selfLufs + saved.offset, 0.01);
    EXPECT_NEAR (saved.gainDb, expectedGain, 0.1);
    // The measurement ran at least from when the window showed STOP to the
    // second click, and at most from the first click to the result.
    const auto secondsOf = [] (int blocks) { return (float) (blocks * kBlock / kRate); };
    EXPECT_GE (saved.seconds, secondsOf (stopBlock - startSeenBlock) - 0.01f);
    EXPECT_LE (saved.seconds, secondsOf (resultSeenBlock - startBlock) + 0.01f);

    // The Vocal's output now carries the stored gain.
    pumpUntil ([&] { return std::abs (recentVocalGain() - saved.gainDb) < 0.01; }, 5000);
    const int settled = session->blocksDone();
    pumpUntil ([&] { return session->blocksDone() >= settled + 40; }, 10000);
    EXPECT_NEAR (session->vocalGainDb (settled, settled + 40), saved.gainDb, 0.01);
    EXPECT_NEAR (session->vocalGainDb (settled, settled + 40), expectedGain, 0.1);

    // The Inst's own audio passed unchanged all along (its Target LUFS view is closed).
    EXPECT_LT (session->largestInstChangeDb (0, session->blocksDone()), 0.001);

    EXPECT_EQ (waitForCaption ("MATCH TO INST", 3000), "MATCH TO INST");
    expectCardsShow (saved, 5000);
    keepPicture (*instWindow, "match_inst_after");
    keepPicture (*vocalWindow, "match_vocal_after");

    // The saved state, restored into a fresh instance, holds the result and
    // applies the same gain to the same audio.
    juce::MemoryBlock state;
    vocal->getStateInformation (state);
    auto restored = load (kRate, kBlock);
    ASSERT_NE (restored, nullptr);
    restored->setStateInformation (state.getData(), (int) state.getSize());
    const auto again = savedSection (*restored, 0);
    EXPECT_TRUE (again.frozen);
    EXPECT_FLOAT_EQ (again.gainDb, saved.gainDb);
    EXPECT_FLOAT_EQ (again.selfLufs, saved.selfLufs);
    EXPECT_FLOAT_EQ (again.partnerLufs, saved.partnerLufs);

    restored->setPlayConfigDetails (kChannels, kChannels, kRate, kBlock);
    restored->prepareToPlay (kRate, kBlock);
    juce::AudioBuffer<float> buffer (kChannels, kBlock);
    juce::MidiBuffer midi;
    double in = 0.0, out = 0.0;
    for (int b = 0; b < 40; ++b)
    {
        TwoTrackSession::fillVocal (buffer, (juce::int64) b * kBlock);
        const auto before = buffer.getRMSLevel (0, 0, kBlock);
        restored->processBlock (buffer, midi);
        if (b >= 10)   // past any ramp
        {
            in += (double) before * before;
            out += (double) buffer.getRMSLevel (0, 0, kBlock) * buffer.getRMSLevel (0, 0, kBlock);
        }
    }
    restored->releaseResources();
    EXPECT_NEAR (10.0 * std::log10 (out / in), saved.gainDb, 0.01) << "the restored instance applies the saved gain";
}

// The same session with the host stopped and the measurement linked to the
// transport through the settings menu: MATCH waits for playback, measures
// while the host plays and ends when the host stops.
TEST_F (MatchWindow, WithTheTransportLinkMatchWaitsForPlaybackAndEndsWhenTheHostStops)
{
    AppSettings::get().setSidebarVisible (true);
    ASSERT_NO_FATAL_FAILURE (openSession (false));
    ASSERT_NO_FATAL_FAILURE (clickTransportLinkItem());
    pumpUntil ([] { return storedTransportLink(); }, 3000);
    EXPECT_TRUE (storedTransportLink()) << "the choice is saved in the settings file at once";

    clickMatch();
    ASSERT_EQ (waitForCaption ("WAITING FOR PLAY", 5000), "WAITING FOR PLAY") << "a start waits while the host is stopped";
    pumpMessages (300);
    EXPECT_NEAR (recentVocalGain(), kOffsetDb, 0.01) << "nothing is measured before playback";
    keepPicture (*vocalWindow, "match_transport_waiting");

    session->setPlaying (true);
    ASSERT_EQ (waitForCaption ("STOPS WITH PLAYBACK", 5000), "STOPS WITH PLAYBACK");
    const int startSeenBlock = session->blocksDone();
    pumpUntil ([&] { return std::abs (recentVocalGain()) < 0.01; }, 5000);
    EXPECT_NEAR (recentVocalGain(), 0.0, 0.01) << "no gain while the section is measured";

    const int fiveSeconds = (int) std::ceil (5.0 * kRate / kBlock);
    pumpUntil ([&] { return session->blocksDone() >= startSeenBlock + fiveSeconds; }, 30000);
    keepPicture (*vocalWindow, "match_transport_playing");

    // The host stops: the measurement ends without a click.
    session->setPlaying (false);
    EXPECT_EQ (waitForCaption ("MATCH TO INST", 5000), "MATCH TO INST");
    SavedSection saved;
    pumpUntil ([&] { saved = savedSection (*vocal, 0); return saved.frozen; }, 10000);
    ASSERT_TRUE (saved.frozen) << "section A holds a result once the host stops";

    const int playBlock = session->lastPlayBlock(), stopBlock = session->lastStopBlock();
    ASSERT_GT (stopBlock, playBlock);
    const double expectedGain = session->instLoudness (playBlock, stopBlock) - session->vocalLoudness (playBlock, stopBlock) + kOffsetDb;
    EXPECT_NEAR (saved.gainDb, expectedGain, 0.1);
    const auto secondsOf = [] (int blocks) { return (float) (blocks * kBlock / kRate); };
    EXPECT_LE (saved.seconds, secondsOf (stopBlock - playBlock) + 0.01f) << "nothing measured outside playback";
    EXPECT_GE (saved.seconds, secondsOf (stopBlock - startSeenBlock) - 0.01f);

    pumpUntil ([&] { return std::abs (recentVocalGain() - saved.gainDb) < 0.01; }, 5000);
    EXPECT_NEAR (recentVocalGain(), saved.gainDb, 0.01) << "the stopped host's audio carries the gain";
    expectCardsShow (saved, 5000);
    keepPicture (*vocalWindow, "match_transport_after");

    // A second later the result is still there, in the audio and the state.
    pumpMessages (1000);
    const auto later = savedSection (*vocal, 0);
    EXPECT_TRUE (later.frozen);
    EXPECT_FLOAT_EQ (later.gainDb, saved.gainDb);
    EXPECT_NEAR (recentVocalGain(), saved.gainDb, 0.01);

    // The link is switched off again the same way (the settings file is shared).
    ASSERT_NO_FATAL_FAILURE (clickTransportLinkItem());
    pumpUntil ([] { return ! storedTransportLink(); }, 3000);
    EXPECT_FALSE (storedTransportLink());
}
