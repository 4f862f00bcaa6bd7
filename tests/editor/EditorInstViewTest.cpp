// The Target LUFS view of the Inst instance driven through its real widgets:
// the measure button, the typed values, the slider, the INST chart's handles,
// against a real processor whose audio is checked sample by sample and whose
// levels are checked against libebur128.

#include "InstViewSupport.h"

TEST_F (EditorInstView, MeasuredLevelMatchesLibebur128AndTheOpenViewAppliesItsGain)
{
    QuorvaneProcessor* pp = nullptr;
    auto& e = openInst (pp);
    auto& p = *pp;
    InstAudio audio (p);

    EXPECT_TRUE (e.setInstTargetButton.isVisible());
    click (e.setInstTargetButton);
    EXPECT_TRUE (p.instTargetUiOpen.load());
    EXPECT_TRUE (e.instMeasureButton.isVisible());
    EXPECT_TRUE (e.backToInstStatusButton.isVisible());
    EXPECT_FALSE (e.setInstTargetButton.isVisible());
    EXPECT_TRUE (p.undoStack.empty()) << "opening the view records no undo step";

    const auto reference = measureThroughButton (e, audio);
    ASSERT_TRUE (p.instFrozen.load());
    const float measured = p.instMeasuredLufs.load();
    EXPECT_NEAR (measured, reference, 0.05);
    EXPECT_NEAR (shownNumber (e.instCardLufsValue), reference, 0.051 + 0.05);
    EXPECT_EQ (e.instCardLufsValue.getText(), QuorvaneEditor::fmtOneDecimal (measured));
    const float match = -18.0f - measured;
    EXPECT_NEAR (p.instMatchGain.load(), match, 1.0e-4f);
    EXPECT_EQ (e.instMatchValue.getText(), QuorvaneEditor::fmtSigned (match));
    EXPECT_EQ (p.undoStack.size(), 2u) << "one undo step per press";

    // The open view: the instrumental carries the Match Gain.
    audio.run (3, -20.0f);
    EXPECT_LT (audio.deviation (dbToGain (match)), 1.0e-4f);

    // An Inst Offset adds to it.
    setParameter (p, ids::instOffset, 1.5f);
    audio.run (3, -20.0f);
    EXPECT_LT (audio.deviation (dbToGain (match + 1.5f)), 1.0e-4f);
    tick (e);
    EXPECT_EQ (e.instTotalValue.getText(), QuorvaneEditor::fmtSigned (p.instMatchGain.load() + 1.5f));

    // Back to the status screen: unity within the 3 ms ramp of the next block.
    click (e.backToInstStatusButton);
    EXPECT_FALSE (p.instTargetUiOpen.load());
    EXPECT_TRUE (e.setInstTargetButton.isVisible());
    audio.run (1, -20.0f);
    EXPECT_LT (audio.deviation (1.0f, 144), 1.0e-5f);
    audio.run (2, -20.0f);
    EXPECT_LT (audio.deviation (1.0f), 1.0e-5f);

    // Reopened, and reactivated by the host with the view open: the gain is
    // there from the first sample.
    click (e.setInstTargetButton);
    audio.run (2, -20.0f);
    EXPECT_LT (audio.deviation (dbToGain (match + 1.5f)), 1.0e-4f);
    p.prepareToPlay (rate, blockSize);
    audio.run (1, -20.0f);
    EXPECT_LT (audio.deviation (dbToGain (match + 1.5f)), 1.0e-4f);

    // A new run: the old gain is off from sample 144 of the first block and
    // stays off for the whole run, whatever the view.
    click (e.instMeasureButton);
    audio.run (1, -20.0f);
    EXPECT_LT (audio.deviation (1.0f, 144), 1.0e-5f);
    tick (e);
    EXPECT_EQ (e.instCardLufsValue.getText(), "Learning");
    EXPECT_EQ (e.instTotalValue.getText(), dash);
    for (int i = 0; i < 20; ++i)
    {
        audio.run (5, i % 2 == 0 ? -10.0f : -30.0f);
        tick (e);
        if (i == 5)
            click (e.backToInstStatusButton);
        if (i == 10)
            click (e.setInstTargetButton);
        if (i == 15)
            setParameter (p, ids::targetLufs, -12.0f); // a Target change while measuring
        EXPECT_LT (audio.deviation (1.0f), 1.0e-5f) << "block " << i;
    }
    click (e.instMeasureButton);
    audio.run (2, -20.0f);
    tick (e);
    ASSERT_TRUE (p.instFrozen.load());
    const float second = p.instMeasuredLufs.load();
    EXPECT_NEAR (p.instMatchGain.load(), -12.0f - second, 1.0e-4f) << "the Match Gain follows the new Target";
    audio.run (2, -20.0f);
    EXPECT_LT (audio.deviation (dbToGain (-12.0f - second + 1.5f)), 1.0e-4f);
}

TEST_F (EditorInstView, ARunThatEndsWithoutResultLeavesNoOldGainBehind)
{
    QuorvaneProcessor* pp = nullptr;
    auto& e = openInst (pp);
    auto& p = *pp;
    InstAudio audio (p);
    click (e.setInstTargetButton);
    measureThroughButton (e, audio);
    const float oldMatch = p.instMatchGain.load();
    const float oldLevel = p.instMeasuredLufs.load();
    ASSERT_GT (std::abs (oldMatch), 3.0f);
    audio.run (2, -20.0f);
    ASSERT_LT (audio.deviation (dbToGain (oldMatch)), 1.0e-4f);

    struct Case
    {
        const char* what;
        std::function<void()> endRun;
    };
    const Case cases[] = {
        { "two presses within one audio block", [&] { click (e.instMeasureButton); click (e.instMeasureButton); } },
        { "a run of digital silence", [&]
          {
              click (e.instMeasureButton);
              audio.run (100, -400.0f);
              click (e.instMeasureButton);
          } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto undoBefore = p.undoStack.size();
        c.endRun();
        EXPECT_EQ (p.undoStack.size(), undoBefore + 2);
        audio.run (3, -20.0f);
        tick (e, 2);

        EXPECT_FALSE (p.instFrozen.load());
        EXPECT_EQ (e.instCardLufsValue.getText(), dash);
        EXPECT_EQ (e.instMatchValue.getText(), dash);
        EXPECT_EQ (e.instTotalValue.getText(), "+0.0") << "the card shows no level and no gain";
        EXPECT_LT (audio.deviation (1.0f), 1.0e-5f) << "and the audio carries none";
        EXPECT_TRUE (e.instChart.historyData.selfSeries.empty());
        EXPECT_FALSE (e.instChart.showGainCurve);

        // Undo brings the finished result back, and its gain with it.
        p.undo();
        p.undo();
        audio.run (3, -20.0f);
        tick (e, 2);
        EXPECT_TRUE (p.instFrozen.load());
        EXPECT_FLOAT_EQ (p.instMeasuredLufs.load(), oldLevel);
        EXPECT_LT (audio.deviation (dbToGain (oldMatch)), 1.0e-4f);
        EXPECT_FALSE (e.instChart.historyData.selfSeries.empty());
    }
}

TEST_F (EditorInstView, MeasureButtonStatesCaptionsAndUndoSteps)
{
    struct Case
    {
        const char* what;
        bool link, known, playing;
        bool armsFirst;
        const char* runningCaption;
    };
    const Case cases[] = {
        { "no transport link", false, true, false, false, "STOP" },
        { "link, host stopped", true, true, false, true, "WAITING FOR PLAY" },
        { "link, host never reported a position", true, false, false, false, "STOPS WITH PLAYBACK" },
        { "link, host playing", true, true, true, false, "STOPS WITH PLAYBACK" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        QuorvaneProcessor* pp = nullptr;
        auto& e = openInst (pp);
        auto& p = *pp;
        auto audioOwner = std::make_unique<InstAudio> (p);
        auto& audio = *audioOwner;
        p.linkMeasurementToTransport = c.link;
        audio.head.known = c.known;
        audio.head.playing = c.playing;
        audio.run (2, -20.0f);
        p.instTargetUiOpen = true;
        tick (e);
        EXPECT_EQ (e.instMeasureButton.getButtonText(), "MATCH TO TARGET LUFS");
        EXPECT_FALSE (e.instMeasureButton.isMeasuring);

        const auto starts = p.instStartCounter.load(), stops = p.instStopCounter.load();
        click (e.instMeasureButton);
        tick (e);
        EXPECT_EQ (p.undoStack.size(), 1u);
        EXPECT_EQ (e.instMeasureButton.getButtonText(), c.runningCaption);
        EXPECT_TRUE (e.instMeasureButton.isMeasuring);
        EXPECT_EQ (p.armedInstStart.load(), c.armsFirst);
        EXPECT_EQ (p.instMeasuring.load(), ! c.armsFirst);
        EXPECT_EQ (p.instStartCounter.load(), starts + (c.armsFirst ? 0 : 1));

        click (e.instMeasureButton);
        tick (e);
        EXPECT_EQ (p.undoStack.size(), 2u);
        EXPECT_EQ (e.instMeasureButton.getButtonText(), "MATCH TO TARGET LUFS");
        EXPECT_FALSE (e.instMeasureButton.isMeasuring);
        EXPECT_FALSE (p.armedInstStart.load());
        EXPECT_FALSE (p.instMeasuring.load());
        EXPECT_EQ (p.instStopCounter.load(), stops + (c.armsFirst ? 0 : 1)) << "a disarm moves no counter";

        if (c.armsFirst)
        {
            // Armed again, playback starts: the run begins and ends with it.
            click (e.instMeasureButton);
            audio.head.playing = true;
            audio.run (1, -20.0f);
            p.handleUpdateNowIfNeeded();
            EXPECT_TRUE (p.instMeasuring.load());
            audio.run (100, -20.0f);
            tick (e);
            EXPECT_EQ (e.instMeasureButton.getButtonText(), "STOPS WITH PLAYBACK");
            audio.head.playing = false;
            audio.run (2, -20.0f);
            tick (e);
            EXPECT_FALSE (p.instMeasuring.load());
            EXPECT_TRUE (p.instFrozen.load());
            EXPECT_EQ (e.instMeasureButton.getButtonText(), "MATCH TO TARGET LUFS");
        }
        audioOwner.reset();
        editors.clear();
        processors.clear();
    }
}

TEST_F (EditorInstView, SliderDragIsOneUndoStep)
{
    QuorvaneProcessor* pp = nullptr;
    auto& e = openTargetView (pp);
    auto& p = *pp;
    auto& s = e.instOffsetSlider;
    ASSERT_GT (s.getWidth(), 50);
    const auto mods = juce::ModifierKeys::leftButtonModifier;
    const float y = (float) s.getHeight() * 0.5f;
    s.mouseDown (mouseEvent (s, { (float) s.getWidth() * 0.5f, y }, mods));
    for (int i = 1; i <= 10; ++i)
        s.mouseDrag (mouseEvent (s, { (float) s.getWidth() * (0.5f + 0.02f * (float) i), y }, mods));
    EXPECT_TRUE (p.instOffsetDragActive);
    s.mouseUp (mouseEvent (s, { (float) s.getWidth() * 0.7f, y }, mods));
    p.handleUpdateNowIfNeeded();
    EXPECT_FALSE (p.instOffsetDragActive);
    EXPECT_GT (p.getInstOffsetDb(), 0.5f);
    EXPECT_EQ (p.undoStack.size(), 1u) << "the whole drag is one step";
    p.undo();
    EXPECT_NEAR (p.getInstOffsetDb(), 0.0f, 1.0e-6f);
}

TEST_F (EditorInstView, TrimDragRecomputesTheMatchGainAsOneUndoStep)
{
    QuorvaneProcessor* pp = nullptr;
    auto& e = openInst (pp);
    auto& p = *pp;
    InstAudio audio (p);
    click (e.setInstTargetButton);
    measureThroughButton (e, audio, -14.0f, -26.0f);
    tick (e);
    ASSERT_TRUE (e.instChart.trimEditable);
    ASSERT_GT (e.instChart.getWidth(), 200);
    const float fullMatch = p.instMatchGain.load();
    const auto fullRevision = p.historyRevision[16].load();
    size_t undo = p.undoStack.size();

    // Released where it was pressed: nothing changes, nothing is recorded.
    dragTrim (e.instChart, 0.0f, 0.0f, 0.6f);
    EXPECT_EQ (p.undoStack.size(), undo);
    EXPECT_EQ (p.historyRevision[16].load(), fullRevision);
    EXPECT_FLOAT_EQ (p.instTrimStart.load(), 0.0f);

    // The start handle moved past the loud part: only the quiet 2 s count.
    dragTrim (e.instChart, 0.0f, 0.7f, 0.6f);
    EXPECT_EQ (p.undoStack.size(), undo + 1);
    EXPECT_NEAR (p.instTrimStart.load(), 0.7f, 0.01f);
    const float trimmed = p.instMeasuredLufs.load();
    EXPECT_NEAR (trimmed, sineLoudness (-26.0f, 1.5), 0.05) << "the blocks kept hold only the quiet sine";
    EXPECT_NEAR (p.instMatchGain.load(), -18.0f - trimmed, 1.0e-4f);
    EXPECT_GT (p.instMatchGain.load(), fullMatch + 5.0f);
    EXPECT_NE (p.historyRevision[16].load(), fullRevision);
    EXPECT_FLOAT_EQ (e.instChart.trimStart, p.instTrimStart.load());
    tick (e);
    EXPECT_NEAR (e.instChart.totalGainDb, p.instMatchGain.load(), 0.011f) << "the gain curve follows";
    audio.run (2, -20.0f);
    EXPECT_LT (audio.deviation (dbToGain (p.instMatchGain.load())), 1.0e-4f);

    // The end handle dragged onto the start: kept at one block.
    const auto blocks = p.instHistory.size();
    dragTrim (e.instChart, 1.0f, 0.0f, 0.6f);
    EXPECT_NEAR (p.instTrimEnd.load() - p.instTrimStart.load(), 1.0f / (float) blocks, 1.0e-5f);

    // Undo restores the trimmed result and the whole range.
    p.undo();
    p.undo();
    tick (e);
    EXPECT_FLOAT_EQ (p.instTrimStart.load(), 0.0f);
    EXPECT_FLOAT_EQ (p.instTrimEnd.load(), 1.0f);
    EXPECT_NEAR (p.instMatchGain.load(), fullMatch, 1.0e-4f);
    EXPECT_FLOAT_EQ (e.instChart.trimStart, 0.0f);

    // Without a finished result the handles spring back and nothing is recorded.
    p.instFrozen = false;
    undo = p.undoStack.size();
    e.instChart.trimEditable = true;
    dragTrim (e.instChart, 0.0f, 0.5f, 0.6f);
    EXPECT_EQ (p.undoStack.size(), undo);
    EXPECT_FLOAT_EQ (e.instChart.trimStart, 0.0f);
    EXPECT_FALSE (e.instChart.trimEditable);
}

TEST_F (EditorInstView, ChartShowsLivePointsThenTheStoredRunAndReloadsOnlyOnChange)
{
    QuorvaneProcessor* pp = nullptr;
    auto& e = openInst (pp);
    auto& p = *pp;
    InstAudio audio (p);
    click (e.setInstTargetButton);
    tick (e);
    auto& chart = e.instChart;
    EXPECT_TRUE (chart.showTargetLine);
    EXPECT_FLOAT_EQ (chart.targetLineLufs, -18.0f);
    EXPECT_FALSE (chart.showGainCurve) << "no result, no gain curve";

    // Live: one point per tick, clamped to the chart's range.
    click (e.instMeasureButton);
    for (int i = 0; i < 30; ++i)
    {
        audio.run (5, -20.0f);
        tick (e);
    }
    EXPECT_EQ (chart.historyData.selfSeries.size(), 30u);
    EXPECT_FALSE (chart.showGainCurve);
    EXPECT_NEAR (chart.historyData.selfSeries.back(), p.instLiveMomentary.load(), 1.0e-4f);

    // Stopped while the host no longer calls the processor: the live points
    // stay until the editor's fourth tick finishes the run itself.
    click (e.instMeasureButton);
    const auto afterStop = p.undoStack.size();
    tick (e);
    EXPECT_FALSE (p.instFrozen.load());
    EXPECT_EQ (chart.historyData.selfSeries.size(), 30u) << "live points kept on the tick after the stop";
    tick (e, 4);
    ASSERT_TRUE (p.instFrozen.load());
    const auto blocks = p.instHistory.size();
    EXPECT_GT (blocks, 10u);
    EXPECT_EQ (chart.historyData.selfSeries.size(), blocks);
    EXPECT_TRUE (chart.trimEditable);
    EXPECT_NEAR (chart.lengthSeconds, p.instAnalysisSeconds.load(), 0.051f);
    EXPECT_TRUE (chart.showGainCurve);
    EXPECT_NEAR (chart.totalGainDb, p.instMatchGain.load(), 0.011f);

    // A quiet tick takes no snapshot: a mark left on the chart survives it.
    chart.historyData.selfSeries.push_back (-99.0f);
    tick (e, 3);
    EXPECT_EQ (chart.historyData.selfSeries.size(), blocks + 1);

    // Target and Inst Offset move the line and the curve without a reload;
    // undoing the stop changes the stored data and reloads.
    setParameter (p, ids::targetLufs, -23.0f);
    setParameter (p, ids::instOffset, -2.0f);
    tick (e);
    EXPECT_EQ (chart.historyData.selfSeries.size(), blocks + 1);
    EXPECT_FLOAT_EQ (chart.targetLineLufs, -23.0f);
    EXPECT_NEAR (chart.totalGainDb, p.instMatchGain.load() - 2.0f, 0.011f);
    EXPECT_NEAR (p.instMatchGain.load(), -23.0f - p.instMeasuredLufs.load(), 1.0e-4f);
    while (p.undoStack.size() >= afterStop)
        p.undo();
    tick (e);
    EXPECT_TRUE (chart.historyData.selfSeries.empty()) << "the state before the stop held no history";
    EXPECT_FALSE (chart.showGainCurve);
}

TEST_F (EditorInstView, AudioThreadRunsWhileTheViewIsWorked)
{
    // The processor on an audio thread of its own, the window ticked and
    // clicked meanwhile: the gain is off while a run lasts, whatever the view.
    QuorvaneProcessor* pp = nullptr;
    auto& e = openInst (pp);
    auto& p = *pp;
    p.setPlayConfigDetails (2, 2, rate, blockSize);
    p.prepareToPlay (rate, blockSize);

    std::atomic<bool> running { true }, measuringWindow { false };
    std::atomic<float> lastRatio { 1.0f }, worstWhileMeasuring { 0.0f };
    std::atomic<int> blocksDone { 0 };
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        double phase = 0.0;
        while (running.load())
        {
            const float a = dbToGain (blocksDone.load() / 50 % 2 == 0 ? -16.0f : -24.0f);
            double inSq = 0.0;
            for (int i = 0; i < blockSize; ++i)
            {
                const float s = a * (float) std::sin (phase);
                phase += 2.0 * juce::MathConstants<double>::pi * 997.0 / rate;
                buffer.setSample (0, i, s);
                buffer.setSample (1, i, s);
                inSq += (double) s * s;
            }
            const bool watched = measuringWindow.load() && p.instMeasuring.load();
            p.processBlock (buffer, midi);
            double outSq = 0.0;
            for (int i = 0; i < blockSize; ++i)
                outSq += (double) buffer.getSample (0, i) * buffer.getSample (0, i);
            const auto ratio = (float) std::sqrt (outSq / inSq);
            lastRatio = ratio;
            if (watched && p.instMeasuring.load())
                worstWhileMeasuring = std::max (worstWhileMeasuring.load(), std::abs (ratio - 1.0f));
            ++blocksDone;
            std::this_thread::sleep_for (std::chrono::microseconds (2500));
        }
    });
    const auto waitBlocks = [&] (int n)
    {
        const auto target = blocksDone.load() + n;
        for (int i = 0; i < 4000 && blocksDone.load() < target; ++i)
        {
            e.timerCallback();
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
    };

    click (e.setInstTargetButton);
    click (e.instMeasureButton);
    waitBlocks (5);
    measuringWindow = true;
    waitBlocks (100);
    click (e.backToInstStatusButton);
    waitBlocks (30);
    click (e.setInstTargetButton);
    setParameter (p, ids::targetLufs, -10.0f);
    waitBlocks (30);
    measuringWindow = false;
    click (e.instMeasureButton);
    waitBlocks (10);
    EXPECT_LT (worstWhileMeasuring.load(), 1.0e-5f);
    ASSERT_TRUE (p.instFrozen.load());
    const float match = p.instMatchGain.load();
    EXPECT_NEAR (match, -10.0f - p.instMeasuredLufs.load(), 1.0e-4f);
    EXPECT_NEAR (lastRatio.load(), dbToGain (match), 1.0e-3f);

    // Reactivation with the view open while the thread is paused, then on.
    running = false;
    audio.join();
    p.prepareToPlay (rate, blockSize);
    juce::AudioBuffer<float> buffer (2, blockSize);
    for (int i = 0; i < blockSize; ++i)
        buffer.setSample (0, i, 0.1f), buffer.setSample (1, i, 0.1f);
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);
    EXPECT_NEAR (buffer.getSample (0, 0), 0.1f * dbToGain (match), 1.0e-5f) << "no ramp from unity after a reactivation";
}
