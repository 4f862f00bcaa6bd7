// Section and INST measurements of signals with digital silence, between real
// Vocal and Inst processors. Expected gains are worked out from the signals'
// timing and levels, or with libebur128, never from the plug-in's own code.

#include "MeasurementHarness.h"

#include <ebur128.h>

#include <cmath>
#include <iomanip>
#include <sstream>

using namespace qvn::test;

namespace
{
using SilenceTest = ProcessorTest;

constexpr float silent = -200.0f; // fillSine writes exact zeros below -100 dB
constexpr double rate = 48000.0;
int block = 480;                   // host block size of the session being run
constexpr int gatingBlock = 19200; // 400 ms
constexpr int hop = 4800;          // 100 ms

struct Segment
{
    double seconds;
    float vocalDb, instDb;
};

int samplesOf (double seconds) { return (int) std::ceil (seconds * rate / block) * block; }

/** Integrated loudness of one side's signal by libebur128, fed the same sine
    the harness writes. */
double referenceLoudness (const std::vector<Segment>& segments, bool vocal)
{
    auto* st = ebur128_init (2, (unsigned long) rate, EBUR128_MODE_I);
    std::vector<float> interleaved;
    std::int64_t pos = 0;
    juce::AudioBuffer<float> buffer (2, block);

    for (const auto& seg : segments)
    {
        for (int done = 0; done < samplesOf (seg.seconds); done += block)
        {
            fillSine (buffer, pos, rate, vocal ? seg.vocalDb : seg.instDb);
            interleaved.resize ((size_t) block * 2);
            for (int i = 0; i < block; ++i)
                for (int c = 0; c < 2; ++c)
                    interleaved[(size_t) i * 2 + (size_t) c] = buffer.getSample (c, i);
            ebur128_add_frames_float (st, interleaved.data(), (size_t) block);
            pos += block;
        }
    }

    double out = -HUGE_VAL;
    ebur128_loudness_global (st, &out);
    ebur128_destroy (&st);
    return out;
}

/** Mean, over every 400 ms gating block of the run, of the share of the block
    in which the instrumental plays at `level` (it is silent elsewhere): the
    factor by which the INST energy falls short of the steady level when the
    vocal passes the gates in every block. */
double meanInstCoverage (const std::vector<Segment>& segments, float level)
{
    std::vector<char> on;
    for (const auto& seg : segments)
        on.insert (on.end(), (size_t) samplesOf (seg.seconds), seg.instDb == level ? 1 : 0);

    const auto total = (int) on.size();
    double sum = 0.0;
    int blocks = 0;

    for (int end = gatingBlock; end <= total; end += hop, ++blocks)
    {
        int covered = 0;
        for (int i = end - gatingBlock; i < end; ++i)
            covered += on[(size_t) i];
        sum += (double) covered / gatingBlock;
    }

    return sum / blocks;
}

/** Runs MATCH on section A, the segments, STOP, and the blocks that publish
    and pick up the result. */
void measure (Session& s, const std::vector<Segment>& segments)
{
    // A fresh session first runs a few blocks in which the instances link.
    if (s.samplePosition == 0)
        s.run (5);

    startMeasuring (s.vocal(), 0);

    for (const auto& seg : segments)
    {
        s.vocalLevelDb = seg.vocalDb;
        s.instLevelDb = seg.instDb;
        s.run (samplesOf (seg.seconds) / block);
    }

    s.vocalLevelDb = -26.0f;
    s.instLevelDb = -20.0f;
    s.stopAndSettle (s.vocal());
}

/** The gain the Vocal applies now, read off its output: a steady sine in,
    after the section gain has settled. */
double outputGainDb (Session& s)
{
    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;
    double in = 0.0, out = 0.0;

    for (int b = 0; b < 20; ++b)
    {
        fillSine (buffer, s.samplePosition, rate, -30.0f);
        in = buffer.getRMSLevel (0, 0, block);
        s.vocal().processBlock (buffer, midi);
        fillSine (buffer, s.samplePosition, rate, -20.0f);
        s.inst->processBlock (buffer, midi);
        s.advance();
    }

    fillSine (buffer, s.samplePosition, rate, -30.0f);
    in = buffer.getRMSLevel (0, 0, block);
    s.vocal().processBlock (buffer, midi);
    out = buffer.getRMSLevel (0, 0, block);
    return 20.0 * std::log10 (out / in);
}

std::string describe (const std::vector<Segment>& segments)
{
    std::ostringstream o;
    for (const auto& seg : segments)
        o << "[" << seg.seconds << " s V " << seg.vocalDb << " I " << seg.instDb << "] ";
    return o.str();
}
} // namespace

TEST_F (SilenceTest, GainMatchesTheInstrumentalOverTheBlocksWhereTheVocalSings)
{
    struct Case
    {
        const char* what;
        std::vector<Segment> segments;
        bool vocalSilentSomewhere; // else the Inst is
    };

    // Where the vocal is silent, the Inst is louder (-10 dB) only at least
    // 0.4 s away from any vocal sound, so that over every block in which the
    // vocal passes the gates the Inst plays at -20 dB: the INST level is that
    // of a steady -20 dB sine, and the VOCAL level is libebur128's.
    const Case cases[] = {
        { "vocal enters late", { { 1.5, silent, -10 }, { 0.5, silent, -20 }, { 2.0, -26, -20 } }, true },
        { "vocal gap", { { 1.0, -26, -20 }, { 0.5, silent, -20 }, { 2.0, silent, -10 }, { 0.5, silent, -20 }, { 1.0, -26, -20 } }, true },
        { "vocal ends early", { { 2.0, -26, -20 }, { 0.5, silent, -20 }, { 1.5, silent, -10 } }, true },
        { "vocal short phrases", { { 0.7, silent, -10 }, { 0.5, silent, -20 }, { 0.3, -26, -20 }, { 0.5, silent, -20 }, { 0.6, silent, -10 },
                                   { 0.5, silent, -20 }, { 0.9, -26, -20 }, { 0.5, silent, -20 } }, true },
        // The vocal sings throughout, so every block passes its gates and the
        // INST level is the Inst's energy averaged over all blocks, silent
        // ones included.
        { "inst enters late", { { 2.0, -26, silent }, { 2.0, -26, -20 } }, false },
        { "inst gap", { { 1.0, -26, -20 }, { 2.0, -26, silent }, { 1.0, -26, -20 } }, false },
        { "inst ends early", { { 2.0, -26, -20 }, { 2.0, -26, silent } }, false },
    };

    // Usual and odd host block sizes.
    for (const int blockSize : { 480, 4097, 33 })
    {
        block = blockSize;
        const double steadyInst = referenceLoudness ({ { 4.0, -20, -20 } }, false);

        for (const auto& c : cases)
        {
            Session s (1, rate, block);
            measure (s, c.segments);

            double expected;

            if (c.vocalSilentSomewhere)
                expected = steadyInst - referenceLoudness (c.segments, true);
            else
                expected = 6.0 + 10.0 * std::log10 (meanInstCoverage (c.segments, -20.0f));

            const auto& section = s.vocal().sections[0];
            ASSERT_TRUE (section.frozen.load()) << c.what;
            EXPECT_NEAR (section.gainDb.load(), expected, 0.02) << c.what << ": " << describe (c.segments);
            EXPECT_NEAR (outputGainDb (s), expected, 0.05) << c.what;
            // Both sides' lists cover the same stretch of time.
            EXPECT_EQ (section.selfHistory.size(), section.partnerHistory.size()) << c.what;
            // So do the frame lists of the two RMS modes, silent frames included.
            ASSERT_TRUE (section.selfFrames != nullptr && section.partnerFrames != nullptr) << c.what;
            EXPECT_EQ (section.selfFrames->size(), section.partnerFrames->size()) << c.what;
            ASSERT_TRUE (section.customSelfFrames != nullptr && section.customPartnerFrames != nullptr) << c.what;
            EXPECT_EQ (section.customSelfFrames->size(), section.customPartnerFrames->size()) << c.what;
            std::int64_t measured = 0;
            for (const auto& seg : c.segments)
                measured += samplesOf (seg.seconds);
            EXPECT_EQ (section.selfFrames->size(), (size_t) ((measured + 4799) / 4800)) << c.what;
            std::cout << "  " << c.what << " (blocks of " << block << "): gain " << section.gainDb.load() << " dB, expected "
                      << expected << " dB\n";
        }
    }

    block = 480;
}

TEST_F (SilenceTest, ASideSilentThroughoutGivesNoResultWhateverRanBefore)
{
    // One side digital silence over the whole measurement, the other full
    // scale; the section has an Offset Gain of +1.5 dB. Measured on fresh
    // meters and right after a run that ended on loud audio on both sides: in
    // both cases the measurement has no result and the Vocal applies its
    // Offset Gain.
    struct Case
    {
        const char* what;
        float vocalDb, instDb;
    };

    const Case cases[] = {
        { "vocal silent", silent, 0.0f },
        { "inst silent", 0.0f, silent },
    };

    for (int mode = 0; mode < 3; ++mode)
    {
        for (const auto& c : cases)
        {
            for (const bool afterLoudRun : { false, true })
            {
                Session s (1, rate, block);
                s.vocal().measMode.store (mode);
                setParam (s.vocal(), "offset_A", 1.5f);

                if (afterLoudRun)
                {
                    measure (s, { { 2.0, 0.0f, 0.0f } });
                    ASSERT_TRUE (s.vocal().sections[0].frozen.load());
                }

                measure (s, { { 2.0, c.vocalDb, c.instDb } });

                const auto& section = s.vocal().sections[0];
                const auto label = std::string (c.what) + " mode " + std::to_string (mode) + (afterLoudRun ? " after loud run" : " fresh");
                EXPECT_FALSE (section.frozen.load()) << label;
                EXPECT_FLOAT_EQ (section.gainDb.load(), 0.0f) << label;
                const auto gain = outputGainDb (s);
                EXPECT_NEAR (gain, 1.5, 0.01) << label;
                std::cout << "  " << label << ": applied " << gain << " dB\n";
            }
        }
    }
}

TEST_F (SilenceTest, AnInstMeasurementOfSilenceKeepsThePreviousResult)
{
    const auto runInst = [] (Session& s, float level, double seconds)
    {
        auto& inst = *s.inst;
        inst.instMeasuring.store (true);
        inst.instStartCounter.fetch_add (1);
        s.instLevelDb = level;
        s.run (samplesOf (seconds) / block);
        inst.instMeasuring.store (false);
        inst.instStopCounter.fetch_add (1);
        s.run (2);
        s.instLevelDb = -20.0f;
    };

    // Fresh meters: nothing measured.
    {
        Session s (1, rate, block);
        runInst (s, silent, 2.0);
        EXPECT_FALSE (s.inst->instFrozen.load());
        EXPECT_LE (s.inst->instMeasuredLufs.load(), -119.5f);
    }

    // After a loud run the first result stays: the silent run has nothing to
    // measure, whatever the meter heard before.
    {
        Session s (1, rate, block);
        setParam (*s.inst, ids::targetLufs, -14.0f);
        runInst (s, 0.0f, 2.0);
        ASSERT_TRUE (s.inst->instFrozen.load());
        const auto level = s.inst->instMeasuredLufs.load();
        const auto match = s.inst->instMatchGain.load();
        EXPECT_NEAR (level, referenceLoudness ({ { 2.0, 0.0f, 0.0f } }, false), 0.06);

        runInst (s, silent, 2.0);
        EXPECT_FLOAT_EQ (s.inst->instMeasuredLufs.load(), level);
        EXPECT_FLOAT_EQ (s.inst->instMatchGain.load(), match);
    }
}

TEST_F (SilenceTest, AnInstRunOfSilenceKeepsTheLengthOfTheKeptHistory)
{
    // An 8 s INST run (77 gating blocks: the first ends at 0.4 s, then one
    // every 100 ms), then a 2 s run of digital silence, which keeps the first
    // result. The kept history is drawn over its own 8 s, here and in a
    // state saved and loaded afterwards, not over the 2 s of the silent run.
    Session s (1, rate, block);
    auto& inst = *s.inst;
    const auto runInst = [&] (float level, double seconds)
    {
        inst.instMeasuring.store (true);
        inst.instStartCounter.fetch_add (1);
        s.instLevelDb = level;
        s.run (samplesOf (seconds) / block);
        inst.instMeasuring.store (false);
        inst.instStopCounter.fetch_add (1);
        s.run (2);
        s.instLevelDb = -20.0f;
    };

    runInst (-12.0f, 8.0);
    const auto first = inst.getInstLearnHistorySnapshot();
    ASSERT_TRUE (first.valid);
    ASSERT_EQ (first.selfSeries.size(), 77u);
    EXPECT_NEAR (first.lengthSeconds, 8.0f, 1.0e-4f);

    runInst (silent, 2.0);
    const auto kept = inst.getInstLearnHistorySnapshot();
    ASSERT_TRUE (kept.valid);
    EXPECT_EQ (kept.selfSeries, first.selfSeries);
    EXPECT_NEAR (kept.lengthSeconds, 8.0f, 0.1f);

    juce::MemoryBlock state;
    inst.getStateInformation (state);
    QuorvaneProcessor loaded;
    loaded.setStateInformation (state.getData(), (int) state.getSize());
    const auto restored = loaded.getInstLearnHistorySnapshot();
    EXPECT_EQ (restored.selfSeries, first.selfSeries);
    EXPECT_NEAR (restored.lengthSeconds, 8.0f, 0.1f);

    // The editor's way: a start empties the history after an undo step;
    // Undo during the (silent) run brings the 8 s result back, and the run's
    // end keeps it with its own length.
    inst.pushUndoSnapshot();
    {
        const std::lock_guard<std::mutex> lock (inst.analysisMutex);
        inst.instAnalysisSeconds.store (0.0f);
        inst.instHistory.clear();
    }
    inst.instFrozen.store (false);
    inst.instStartCounter.fetch_add (1);
    inst.instMeasuring.store (true);
    s.instLevelDb = silent;
    s.run (samplesOf (1.0) / block);
    inst.undo();
    s.run (samplesOf (1.0) / block);
    inst.instMeasuring.store (false);
    inst.instStopCounter.fetch_add (1);
    s.run (2);

    const auto afterUndo = inst.getInstLearnHistorySnapshot();
    ASSERT_TRUE (afterUndo.valid);
    EXPECT_EQ (afterUndo.selfSeries, first.selfSeries);
    EXPECT_NEAR (afterUndo.lengthSeconds, 8.0f, 0.1f);
}

TEST_F (SilenceTest, TrimAndLearnHistoryStayTrueToTime)
{
    // 4 s run: the vocal enters at 2.0 s. Gating blocks end every 100 ms from
    // 0.4 s, so there are 37; the 17 blocks ending at or before 2.0 s hold no
    // vocal at all, and blocks from index 20 on hold only steady vocal.
    const std::vector<Segment> segments { { 1.5, silent, -10 }, { 0.5, silent, -20 }, { 2.0, -26, -20 } };
    Session s (1, rate, block);
    measure (s, segments);

    auto& v = s.vocal();
    auto& section = v.sections[0];
    ASSERT_TRUE (section.frozen.load());
    ASSERT_EQ (section.selfHistory.size(), 37u);
    EXPECT_NEAR (section.seconds.load(), 4.0f, 1.0e-4f);

    const auto snap = v.getLearnHistorySnapshot (0);
    ASSERT_TRUE (snap.valid);
    ASSERT_EQ (snap.selfSeries.size(), 37u);
    for (size_t k = 0; k < 37; ++k)
    {
        EXPECT_EQ (snap.belowGate[k], k < 17) << k;
        // The INST curve shows the -10 dB stretch where it was: blocks ending
        // at or before 1.5 s (k <= 11) are 10 dB above the last ones.
        if (k <= 11)
            EXPECT_NEAR (snap.partnerSeries[k] - snap.partnerSeries.back(), 10.0f, 0.05f) << k;
    }

    // Keep 0.6..1.0: blocks 22..36, all steady vocal over a steady -20 dB
    // Inst, so the gain is exactly the 6 dB level difference.
    {
        const std::lock_guard<std::mutex> lock (v.analysisMutex);
        section.trimStart = 0.6f;
        section.trimEnd = 1.0f;
        ASSERT_TRUE (v.recomputeSectionFromTrim (0));
    }

    EXPECT_NEAR (section.gainDb.load(), 6.0f, 0.01f);
    EXPECT_NEAR (section.seconds.load(), 1.8f, 1.0e-4f); // 15 blocks: 14 hops + 400 ms
    EXPECT_NEAR (outputGainDb (s), 6.0, 0.02);
}

TEST_F (SilenceTest, AStateSavedBeforeSilentBlocksWereKeptLoadsUnchanged)
{
    // A section as an earlier version stored it: its Vocal list lacks the
    // silent blocks (20 blocks against the Inst's 37), trimmed to 0.1..0.9.
    QuorvaneProcessor before;
    auto& s = before.sections[0];
    const auto energy = [] (double lufs) { return std::pow (10.0, (lufs + 0.691) / 10.0); };
    s.selfHistory.assign (20, energy (-26.0));
    s.selfHistory[0] = energy (-30.0);
    for (int k = 0; k < 37; ++k)
        s.partnerHistory.push_back (energy (k < 12 ? -10.0 : -20.0));
    s.trimStart = 0.1f;
    s.trimEnd = 0.9f;
    {
        const std::lock_guard<std::mutex> lock (before.analysisMutex);
        ASSERT_TRUE (before.recomputeSectionFromTrim (0));
    }

    juce::MemoryBlock blob;
    before.getStateInformation (blob);

    QuorvaneProcessor after;
    after.setStateInformation (blob.getData(), (int) blob.getSize());
    const auto& t = after.sections[0];

    EXPECT_EQ (t.selfHistory, s.selfHistory);
    EXPECT_EQ (t.partnerHistory, s.partnerHistory);
    EXPECT_FLOAT_EQ (t.selfLufs.load(), s.selfLufs.load());
    EXPECT_FLOAT_EQ (t.partnerLufs.load(), s.partnerLufs.load());
    EXPECT_FLOAT_EQ (t.gainDb.load(), s.gainDb.load());
    EXPECT_FLOAT_EQ (t.trimStart.load(), s.trimStart.load());
    EXPECT_FLOAT_EQ (t.trimEnd.load(), s.trimEnd.load());

    // Recomputing the loaded section gives the same result as before.
    {
        const std::lock_guard<std::mutex> lock (after.analysisMutex);
        ASSERT_TRUE (after.recomputeSectionFromTrim (0));
    }
    EXPECT_FLOAT_EQ (t.gainDb.load(), s.gainDb.load());
}

namespace
{
/** The two sections of the stored-state fixture: A with a late vocal entry
    (silence involved), B steady (no silence). */
void measureFixtureSections (Session& s)
{
    measure (s, { { 1.5, silent, -10 }, { 0.5, silent, -20 }, { 2.0, -26, -20 } });

    setParam (s.vocal(), ids::section, 1.0f);
    s.run (s.blocksFor (0.3));
    startMeasuring (s.vocal(), 1);
    s.vocalLevelDb = -23.0f;
    s.instLevelDb = -20.0f;
    s.run (s.blocksFor (3.0));
    s.stopAndSettle (s.vocal());
}

// The results the earlier build stored in the fixture.
constexpr float fixtureGainA = 14.8359547f; // the wrong gain of a late vocal entry, as stored
constexpr float fixtureGainB = 3.0f;

juce::File fixtureFile() { return juce::File (QVN_TEST_DATA_DIR).getChildFile ("vocal_state_before_silent_blocks.bin"); }
} // namespace

// Writes the fixture below. It was run once on the build before silent
// blocks were kept (its results are in the test that reads it).
TEST_F (SilenceTest, DISABLED_WriteStoredStateFixture)
{
    Session s (1, rate, block);
    measureFixtureSections (s);
    juce::MemoryBlock blob;
    s.vocal().getStateInformation (blob);
    ASSERT_TRUE (fixtureFile().replaceWithData (blob.getData(), blob.getSize()));
    std::cout << std::setprecision (9) << "A gain " << s.vocal().sections[0].gainDb.load() << " self " << s.vocal().sections[0].selfLufs.load()
              << " partner " << s.vocal().sections[0].partnerLufs.load() << "\nB gain " << s.vocal().sections[1].gainDb.load() << "\n";
}

TEST_F (SilenceTest, AStateSavedByTheEarlierBuildLoadsUnchanged)
{
    juce::MemoryBlock blob;
    ASSERT_TRUE (fixtureFile().loadFileAsData (blob));

    auto s = std::make_unique<Session> (1, rate, block);
    s->run (5);
    auto& v = s->vocal();
    v.setStateInformation (blob.getData(), (int) blob.getSize());
    s->run (5);

    // Section A (silence involved) keeps the result the earlier build stored,
    // lists included; section B (no silence) too, and measuring it again now
    // gives the same gain.
    const auto& a = v.sections[0];
    EXPECT_TRUE (a.frozen.load());
    EXPECT_FLOAT_EQ (a.gainDb.load(), fixtureGainA);
    // The silent blocks were not kept then, and the Inst's list was cut to
    // the Vocal's length.
    EXPECT_EQ (a.selfHistory.size(), 20u);
    EXPECT_EQ (a.partnerHistory.size(), 20u);

    const auto& b = v.sections[1];
    EXPECT_TRUE (b.frozen.load());
    EXPECT_FLOAT_EQ (b.gainDb.load(), fixtureGainB);

    {
        const std::lock_guard<std::mutex> lock (v.analysisMutex);
        ASSERT_TRUE (v.recomputeSectionFromTrim (0));
        ASSERT_TRUE (v.recomputeSectionFromTrim (1));
    }
    EXPECT_FLOAT_EQ (a.gainDb.load(), fixtureGainA);
    EXPECT_FLOAT_EQ (b.gainDb.load(), fixtureGainB);

    s.reset(); // instances of one process link: one session at a time
    Session fresh (1, rate, block);
    measureFixtureSections (fresh);
    EXPECT_NEAR (fresh.vocal().sections[1].gainDb.load(), fixtureGainB, 1.0e-4f);
    EXPECT_NEAR (fresh.vocal().sections[0].gainDb.load(), 6.339f, 0.01f);
}

namespace
{
/** libebur128's integrated loudness of the 1 kHz sine the harness writes,
    with the given level per stretch, at any rate. */
double referenceOf (const std::vector<std::pair<double, float>>& stretches, double fs, int blockSize);

/** One side's stretches of a run, laid out in host blocks as the run has them. */
std::vector<std::pair<double, float>> sideOf (const std::vector<Segment>& segments, bool vocal)
{
    std::vector<std::pair<double, float>> out;
    for (const auto& seg : segments)
        out.emplace_back (seg.seconds, vocal ? seg.vocalDb : seg.instDb);
    return out;
}

double referenceOf (const std::vector<std::pair<double, float>>& stretches, double fs, int blockSize)
{
    auto* st = ebur128_init (2, (unsigned long) fs, EBUR128_MODE_I);
    std::vector<float> interleaved ((size_t) blockSize * 2);
    juce::AudioBuffer<float> buffer (2, blockSize);
    std::int64_t pos = 0;

    for (const auto& [seconds, db] : stretches)
        for (int b = 0; b < (int) std::ceil (seconds * fs / blockSize); ++b, pos += blockSize)
        {
            fillSine (buffer, pos, fs, db);
            for (int i = 0; i < blockSize; ++i)
                for (int c = 0; c < 2; ++c)
                    interleaved[(size_t) i * 2 + (size_t) c] = buffer.getSample (c, i);
            ebur128_add_frames_float (st, interleaved.data(), (size_t) blockSize);
        }

    double out = -HUGE_VAL;
    ebur128_loudness_global (st, &out);
    ebur128_destroy (&st);
    return out;
}
}

// Sections measured one after another at other rates and odd host block
// sizes: A with the vocal entering late, B steady, then A again quiet after
// its loud first run. Each result is its own run's, the vocal's silence keeps
// its place in time; expected gains from libebur128 on the same signals.
TEST_F (SilenceTest, SectionsMeasuredInTurnAtOtherRatesAndBlockSizes)
{
    struct Config { double fs; int blockSize; };
    const Config configs[] = { { 44100.0, 7 }, { 88200.0, 4097 }, { 96000.0, 1000 }, { 192000.0, 4097 }, { 44100.0, 1 } };

    for (const auto& cfg : configs)
    {
        SCOPED_TRACE (std::to_string ((int) cfg.fs) + " Hz, blocks of " + std::to_string (cfg.blockSize));
        Session s (1, cfg.fs, cfg.blockSize);
        auto& v = s.vocal();
        s.run (5);

        const auto runSection = [&] (int section, const std::vector<Segment>& segments)
        {
            setParam (v, ids::section, (float) section);
            setParam (*s.inst, ids::section, (float) section);
            s.run (s.blocksFor (0.2)); // a section change holds after 120 ms
            startMeasuring (v, section);
            for (const auto& seg : segments)
            {
                s.vocalLevelDb = seg.vocalDb;
                s.instLevelDb = seg.instDb;
                s.run (s.blocksFor (seg.seconds));
            }
            s.vocalLevelDb = -26.0f;
            s.instLevelDb = -20.0f;
            s.stopAndSettle (v);
        };

        // A: the vocal enters after 2 s; the Inst's -10 dB stretch lies where
        // no block holds any vocal.
        const std::vector<Segment> lateEntry { { 1.5, silent, -10 }, { 0.5, silent, -20 }, { 2.0, -26, -20 } };
        runSection (0, lateEntry);
        const auto expectedA = referenceOf ({ { 4.0, -20.0f } }, cfg.fs, cfg.blockSize)
                             - referenceOf (sideOf (lateEntry, true), cfg.fs, cfg.blockSize);
        ASSERT_TRUE (v.sections[0].frozen.load());
        EXPECT_NEAR (v.sections[0].gainDb.load(), expectedA, 0.01);

        // B: steady, 12 dB apart.
        runSection (1, { { 3.0, -32, -20 } });
        ASSERT_TRUE (v.sections[1].frozen.load());
        EXPECT_NEAR (v.sections[1].gainDb.load(), 12.0, 0.01);

        // A again, after its loud first run: a quiet vocal with a gap, the
        // Inst loud only where no block holds any vocal (more than 400 ms
        // into the gap), so the INST level is its steady -30 dB.
        const std::vector<Segment> quietWithGap { { 1.0, -50, -30 }, { 0.5, silent, -30 }, { 1.5, silent, -5 },
                                                  { 0.5, silent, -30 }, { 1.5, -50, -30 } };
        runSection (0, quietWithGap);
        const auto expectedQuiet = referenceOf ({ { 5.0, -30.0f } }, cfg.fs, cfg.blockSize)
                                 - referenceOf (sideOf (quietWithGap, true), cfg.fs, cfg.blockSize);
        ASSERT_TRUE (v.sections[0].frozen.load());
        EXPECT_NEAR (v.sections[0].gainDb.load(), expectedQuiet, 0.01) << "quiet rerun of A";
        EXPECT_NEAR (v.sections[1].gainDb.load(), 12.0, 0.01) << "B untouched";
        std::cout << "  " << (int) cfg.fs << "/" << cfg.blockSize << ": A first " << expectedA << " expected, rerun "
                  << v.sections[0].gainDb.load() << " (expected " << expectedQuiet << "), B " << v.sections[1].gainDb.load() << "\n";
    }
}

// A section whose lists hold silent blocks (the vocal enters after 2 s) is
// saved and loaded into a fresh Vocal: both lists come back entry for entry,
// zeros in place, with the same trim, gain and chart.
TEST_F (SilenceTest, ListsWithSilentBlocksRoundTripThroughTheState)
{
    Session s (1, rate, block);
    measure (s, { { 1.5, silent, -10 }, { 0.5, silent, -20 }, { 2.0, -26, -20 } });
    auto& v = s.vocal();
    auto& section = v.sections[0];
    ASSERT_TRUE (section.frozen.load());

    {
        const std::lock_guard<std::mutex> lock (v.analysisMutex);
        section.trimStart = 0.3f;   // starts inside the vocal's silence
        section.trimEnd = 0.95f;
        ASSERT_TRUE (v.recomputeSectionFromTrim (0));
    }

    const auto zeros = std::count (section.selfHistory.begin(), section.selfHistory.end(), 0.0);
    EXPECT_EQ (zeros, 17); // the blocks ending at 0.4 .. 2.0 s hold no vocal at all

    juce::MemoryBlock state;
    v.getStateInformation (state);
    QuorvaneProcessor loaded;
    loaded.setStateInformation (state.getData(), (int) state.getSize());
    const auto& back = loaded.sections[0];

    EXPECT_EQ (back.selfHistory, section.selfHistory);
    EXPECT_EQ (back.partnerHistory, section.partnerHistory);
    EXPECT_FLOAT_EQ (back.trimStart.load(), 0.3f);
    EXPECT_FLOAT_EQ (back.trimEnd.load(), 0.95f);
    EXPECT_FLOAT_EQ (back.gainDb.load(), section.gainDb.load());

    const auto a = v.getLearnHistorySnapshot (0);
    const auto b = loaded.getLearnHistorySnapshot (0);
    EXPECT_EQ (a.selfSeries, b.selfSeries);
    EXPECT_EQ (a.partnerSeries, b.partnerSeries);
    EXPECT_EQ (a.belowGate, b.belowGate);
    EXPECT_FLOAT_EQ (a.lengthSeconds, b.lengthSeconds);

    // Trimmed again after loading, it gives what the original gives.
    for (auto* p : { &v, &loaded })
    {
        const std::lock_guard<std::mutex> lock (p->analysisMutex);
        p->sections[0].trimStart = 0.45f;
        p->sections[0].trimEnd = 0.6f;
        ASSERT_TRUE (p->recomputeSectionFromTrim (0));
    }
    EXPECT_FLOAT_EQ (back.gainDb.load(), section.gainDb.load());
    std::cout << "  zeros " << zeros << ", gain 0.3..0.95 / 0.45..0.6: " << section.gainDb.load() << " dB\n";
}

// The vocal is one full-scale-ish sample per second with digital silence
// between (a click track left on, a stray sample): not silence, so the run
// gives a result, and the blocks that hold a click are the ones that pass.
// The Inst is a steady sine, so the INST level over any set of blocks is its
// own level: the gain is libebur128's Inst loudness minus its click loudness.
TEST_F (SilenceTest, AVocalOfSingleSamplesBetweenSilenceGetsTheGainOfItsClicks)
{
    Session s (1, rate, block);
    auto& v = s.vocal();
    s.run (5);
    startMeasuring (v, 0);

    auto* st = ebur128_init (2, (unsigned long) rate, EBUR128_MODE_I);
    juce::AudioBuffer<float> buffer (2, block);
    juce::MidiBuffer midi;
    std::vector<float> interleaved ((size_t) block * 2);
    const int blocks = (int) (6.0 * rate / block);

    for (int b = 0; b < blocks; ++b)
    {
        buffer.clear();
        for (int i = 0; i < block; ++i)
            if ((b * block + i) % (int) rate == (int) rate / 3)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, i, 0.5f);

        for (int i = 0; i < block; ++i)
            for (int c = 0; c < 2; ++c)
                interleaved[(size_t) i * 2 + (size_t) c] = buffer.getSample (c, i);
        ebur128_add_frames_float (st, interleaved.data(), (size_t) block);

        v.processBlock (buffer, midi);
        fillSine (buffer, s.samplePosition, rate, -20.0f);
        s.inst->processBlock (buffer, midi);
        s.advance();
    }

    double clicks = 0.0;
    ebur128_loudness_global (st, &clicks);
    ebur128_destroy (&st);
    s.stopAndSettle (v);

    const auto& section = v.sections[0];
    ASSERT_TRUE (section.frozen.load());
    const auto expected = referenceLoudness ({ { 6.0, -20.0f, -20.0f } }, false) - clicks;
    EXPECT_NEAR (section.gainDb.load(), expected, 0.05);
    EXPECT_NEAR (section.selfLufs.load(), clicks, 0.05);
    std::cout << "  clicks " << clicks << " LUFS, gain " << section.gainDb.load() << " dB, expected " << expected << "\n";
}

// In the RMS modes a quiet rerun after a full-scale run measures only itself:
// steady sines 20 dB apart give exactly 20 dB, whatever the first run left in
// the filters. Custom weighting is the same on both sides, so it cancels.
TEST_F (SilenceTest, AQuietRerunInTheRmsModesMeasuresOnlyItself)
{
    for (int mode : { 1, 2 })
    {
        SCOPED_TRACE ("mode " + std::to_string (mode));
        Session s (1, rate, block);
        s.vocal().measMode.store (mode);
        measure (s, { { 2.0, 0.0f, 0.0f } });
        ASSERT_TRUE (s.vocal().sections[0].frozen.load());

        measure (s, { { 3.0, -50.0f, -30.0f } });
        const auto& section = s.vocal().sections[0];
        ASSERT_TRUE (section.frozen.load());
        EXPECT_NEAR (section.gainDb.load(), 20.0f, 0.02f);
        EXPECT_NEAR (outputGainDb (s), 20.0, 0.05);
        std::cout << "  mode " << mode << ": " << section.gainDb.load() << " dB (VOCAL " << section.selfLufs.load()
                  << ", INST " << section.partnerLufs.load() << ")\n";
    }
}
