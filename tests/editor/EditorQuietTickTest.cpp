#include "EditorTestSupport.h"

#include "../support/AllocationCounter.h"

#include <cmath>

using qvn::test::EditorFixture;

class EditorQuietTick : public EditorFixture
{
};

TEST_F (EditorQuietTick, ATickWhereNothingChangedAllocatesNothing)
{
    auto& inst = addProcessor (1);
    std::vector<QuorvaneProcessor*> vocals;
    for (int i = 0; i < 8; ++i)
        vocals.push_back (&addProcessor (2));
    vocals[0]->setInstanceName ("Lead");
    vocals[3]->setInstanceName (juce::String::fromUTF8 ("\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\xa9\xe3\x82\xb9"));
    vocals[0]->kickSectionMeasurement (2);

    auto& eVocal = open (*vocals[0]);
    inst.instTargetUiOpen = true;
    auto& eInst = open (inst);
    auto& eNone = open (addProcessor (0));

    for (auto* e : { &eVocal, &eInst, &eNone })
    {
        for (int i = 0; i < 3; ++i)
            e->timerCallback();   // settles: first-tick layout, bars, captions
        ASSERT_EQ (eVocal.otherVocalMeters.size(), 7u);

        long count = -1;
        {
            qvn::test::AllocationCountScope scope;
            e->timerCallback();
            count = scope.count();
        }
        EXPECT_EQ (count, 0) << "role " << e->currentRole();
    }

    // A new level changes the bars but still builds no text and takes no copy.
    vocals[0]->meterVocalMomentary = -23.0f;
    vocals[5]->ownSlot->liveMomentaryPostGain = -21.0f;
    long count = -1;
    {
        qvn::test::AllocationCountScope scope;
        eVocal.timerCallback();
        count = scope.count();
    }
    EXPECT_EQ (eVocal.ownMeter.compareLufs, -23.0f);
    EXPECT_EQ (count, 0);

    // The counter does see the tick's work when there is some: a renamed Vocal
    // makes the tick convert its name and repaint the captions.
    vocals[4]->setInstanceName ("Double");
    {
        qvn::test::AllocationCountScope scope;
        eVocal.timerCallback();
        count = scope.count();
    }
    EXPECT_GT (count, 0);
    EXPECT_EQ (eVocal.otherVocalNames[3], "Double");
}

TEST_F (EditorQuietTick, AStoredLearnHistoryOnScreenIsNotCopiedAgainOnAQuietTick)
{
    addProcessor (1);
    auto& vocal = addProcessor (2);
    auto& s = vocal.sections[0];
    {
        // Ten minutes of a finished measurement: one entry per 100 ms.
        std::lock_guard<std::mutex> lock (vocal.analysisMutex);
        s.selfHistory.assign (6000, std::pow (10.0, (-20.0 + 0.691) / 10.0));
        s.partnerHistory.assign (6000, std::pow (10.0, (-14.0 + 0.691) / 10.0));
        s.analysisSeconds = 600.0f;
        vocal.recomputeSectionFromTrim (0);
    }
    vocal.historyRevision[0] = vocal.revisionCounter.fetch_add (1) + 1;

    auto& e = open (vocal);
    for (int i = 0; i < 3; ++i)
        e.timerCallback();
    ASSERT_EQ (e.sectionChart.historyData.selfSeries.size(), 6000u);

    auto countTick = [&]
    {
        qvn::test::AllocationCountScope scope;
        e.timerCallback();
        return scope.count();
    };
    EXPECT_EQ (countTick(), 0) << "nothing changed: no snapshot";

    // A renewed result is copied: the snapshot's series are built anew.
    vocal.historyRevision[0] = vocal.revisionCounter.fetch_add (1) + 1;
    EXPECT_GT (countTick(), 0);
    EXPECT_EQ (countTick(), 0);
}
