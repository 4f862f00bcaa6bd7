// Gallery pages of the meter bars, the Learn History chart, the call-out
// popups and the confirmation card, with realistic data.

#include "Gallery.h"

#include "ui/ConfirmDialog.h"
#include "ui/LearnHistoryChart.h"
#include "ui/MeterComponents.h"
#include "ui/OffsetTargetEditPopup.h"
#include "ui/RangeEditPopup.h"

#include <cmath>

using namespace qvn::gallery;
using qvn_meter::MeasureState;

namespace
{
template <typename Bar>
std::unique_ptr<Bar> bar (int layout, const juce::String& label = {})
{
    auto b = std::make_unique<Bar>();
    b->setLayout (layout);
    b->setLabel (label);
    return b;
}

// A three-minute vocal take in 400 ms blocks: phrases around -20 LUFS, pauses
// below the gate, the instrumental steady around -16 LUFS.
void fillThreeMinuteTake (LearnHistoryChart& chart, bool instView)
{
    juce::Random rng (20261211);
    const int blocks = 450;
    for (int i = 0; i < blocks; ++i)
    {
        const float t = (float) i * 0.4f;
        const float phrase = std::sin (t * 0.35f) + 0.6f * std::sin (t * 1.7f + 1.0f);
        const bool pause = (i % 60) >= 52 || i < 6;
        float vocal = -20.5f + 2.5f * phrase + rng.nextFloat() * 1.6f - 0.8f;
        if (pause)
            vocal = -44.0f + rng.nextFloat() * 4.0f;
        const float inst = -16.0f + 1.2f * std::sin (t * 0.05f) + rng.nextFloat() * 0.8f - 0.4f;
        if (instView)
            chart.push (inst, -120.0f, false);
        else
            chart.push (vocal, inst, pause);
    }
    chart.lengthSeconds = (float) blocks * 0.4f;
}

std::unique_ptr<LearnHistoryChart> chart (bool instView, const PageContext& ctx)
{
    auto c = std::make_unique<LearnHistoryChart>();
    c->instView = instView;
    c->emptyText = ctx.text ("Press MATCH TO INST to measure", "MATCH TO INST で測定");
    c->rangePillTooltip = ctx.text ("Change the displayed LUFS range", "表示するLUFS範囲を変更");
    return c;
}

RangeEditPopup::Strings rangeStrings (const PageContext& ctx)
{
    RangeEditPopup::Strings s;
    if (ctx.japanese)
    {
        s.title = juce::String::fromUTF8 ("LUFS表示範囲");
        s.minLabel = juce::String::fromUTF8 ("最小");
        s.maxLabel = juce::String::fromUTF8 ("最大");
        s.resetLabel = juce::String::fromUTF8 ("リセット");
        s.cancelLabel = juce::String::fromUTF8 ("キャンセル");
    }
    return s;
}

OffsetTargetEditPopup::Strings targetStrings (const PageContext& ctx, bool existing)
{
    OffsetTargetEditPopup::Strings s;
    s.title = existing ? ctx.text ("Edit Target", "ターゲットを編集") : ctx.text ("New Target", "新しいターゲット");
    s.nameLabel = ctx.text ("Name", "名前");
    s.minLabel = ctx.text ("Min", "最小");
    s.maxLabel = ctx.text ("Max", "最大");
    s.deleteLabel = ctx.text ("Delete", "削除");
    s.cancelLabel = ctx.text ("Cancel", "キャンセル");
    return s;
}

// A popup shown as the editor shows it: the owned content of a call-out box in
// the square look, without an arrow, placed under the range pill it edits.
class CallOutHost : public juce::Component
{
public:
    CallOutHost (std::unique_ptr<juce::Component> popup, int w, int h) : content (std::move (popup))
    {
        setSize (w, h);
        anchor = { w / 2 - 55, 6, 110, 16 };
        box = std::make_unique<juce::CallOutBox> (*content, anchor, this);
        box->setLookAndFeel (&look);
        box->setArrowSize (0.0f);
        box->updatePosition (anchor, getLocalBounds());
    }

    ~CallOutHost() override
    {
        box->setLookAndFeel (nullptr);
        box.reset();
        content.reset();
    }

    void paint (juce::Graphics& g) override
    {
        g.fillAll (qvn::theme::kCardCol);
        g.setColour (juce::Colour (0xf2171c22));
        g.fillRoundedRectangle (anchor.toFloat(), 4.0f);
        g.setColour (juce::Colours::white.withAlpha ((juce::uint8) 0x8c));
        g.drawRoundedRectangle (anchor.toFloat().reduced (0.5f), 4.0f, 1.0f);
        g.setColour (qvn::theme::kMutedCol);
        g.setFont (FlatLookAndFeel::font (10.0f, juce::Font::bold));
        g.drawText ("RANGE -30 TO -6", anchor, juce::Justification::centred, false);
    }

private:
    SquareCallOutBoxLF look;
    std::unique_ptr<juce::Component> content;
    std::unique_ptr<juce::CallOutBox> box;
    juce::Rectangle<int> anchor;
};

// An owner panel with the confirmation card shown over it.
class ConfirmHost : public juce::Component
{
public:
    explicit ConfirmHost (const PageContext& ctx)
    {
        addChildComponent (dialog);
        dialog.titleLabel.setText (ctx.text ("Overwrite preset?", "プリセットを上書きしますか？"), juce::dontSendNotification);
        dialog.messageLabel.setText (ctx.text ("\"Warm Vocal\" will be replaced by the current weighting.",
                                               "「Warm Vocal」を現在のウェイトで置き換えます。"),
                                     juce::dontSendNotification);
        dialog.titleLabel.setFont (ctx.japanese ? FlatLookAndFeel::jpBoldFont (15.0f) : FlatLookAndFeel::dinFont (15.0f, juce::Font::bold));
        dialog.messageLabel.setFont (ctx.japanese ? FlatLookAndFeel::jpFont (13.0f) : FlatLookAndFeel::dinExpFont (12.0f));
        dialog.cancelButton.setButtonText (ctx.text ("Cancel", "キャンセル"));
        dialog.confirmButton.setButtonText (ctx.text ("Overwrite", "上書き"));
        dialog.onConfirm = [] {};
    }

    void paint (juce::Graphics& g) override
    {
        // Something of the owner to see through the dimmed backdrop.
        g.fillAll (qvn::theme::kPanelCol);
        g.setColour (qvn::theme::kAccentCol);
        for (int x = 10; x < getWidth(); x += 40)
            g.fillRect (x, 20, 20, getHeight() - 40);
    }

    void resized() override
    {
        dialog.setBounds (getLocalBounds());
        dialog.setVisible (true);
    }

    ConfirmDialog dialog;
};
} // namespace

//==============================================================================
QVN_GALLERY_PAGE ("10_meter_bars", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage> (820);
    using namespace qvn::theme;

    page->heading (ctx.text ("Meter rows (-36..0 LUFS)", "メーター (行)"));
    {
        auto& inst = page->add ("Inst -16.4, integrated -17.2, target -14", bar<InstMeterBar> (0, "Inst"), 380, 40, 390);
        inst.setValueLufs (-16.4f);
        inst.setIntegratedLufs (-17.2f);
        inst.setTargetLineLufs (-14.0f);
        page->probe ({ "row fill", Probe::ink, page->inPage (inst, { 100, 20, 40, 10 }), kPanelCol });

        auto& vocal = page->add ("Vocal -12.3 over INST -16.4 (compare band)", bar<VocalMeterBar> (0, "Vocal"), 380, 40, 390);
        vocal.setLevels (-16.4f, -12.3f);
        vocal.setIntegratedLufs (-13.1f);

        auto& under = page->add ("Vocal -24.0 under INST -16.4", bar<VocalMeterBar> (0, "Vocal 2"), 380, 40, 390);
        under.setLevels (-16.4f, -24.0f);

        auto& meas = page->add ("Measuring", bar<VocalMeterBar> (0, "Vocal"), 380, 40, 390);
        meas.setLevels (-16.4f, -19.8f);
        meas.setMeasureState (MeasureState::Measuring);

        auto& skip = page->add ("Skipped", bar<VocalMeterBar> (0, "Vocal 3"), 380, 40, 390);
        skip.setLevels (-16.4f, -21.0f);
        skip.setMeasureState (MeasureState::Skipped);

        auto& silent = page->add ("below -100: -inf, no fill", bar<InstMeterBar> (0, "Inst"), 380, 40, 390);
        silent.setValueLufs (-120.0f);

        auto& flat = page->add ("22 px high: no labels", bar<VocalMeterBar> (0, "Vocal"), 380, 22, 390);
        flat.setLevels (-200.0f, -6.0f);
        flat.setIntegratedLufs (-9.0f);

        auto& full = page->add ("+2 LUFS: full bar", bar<InstMeterBar> (0), 380, 40, 390);
        full.setValueLufs (2.0f);
    }

    page->heading (ctx.text ("Meter columns", "メーター (列)"));
    {
        auto& inst = page->add ("Inst -16.0, target -14", bar<InstMeterBar> (1), 70, 260);
        inst.setValueLufs (-16.0f);
        inst.setTargetLineLufs (-14.0f);
        inst.setIntegratedLufs (-16.8f);
        inst.setPeaks (-4.0f, -6.5f);
        inst.setMarkerText ("T");

        auto& vocal = page->add ("Vocal with scale", bar<VocalMeterBar> (1), 80, 260);
        vocal.setShowScale (true);
        vocal.setLevels (-16.0f, -12.2f);
        vocal.setIntegratedLufs (-13.4f);
        vocal.setPeaks (-3.0f, -5.0f);
        page->probe ({ "column scale labels", Probe::ink, page->inPage (vocal, { 58, 20, 22, 240 }), kWindowCol });

        auto& under = page->add ("under INST", bar<VocalMeterBar> (1), 80, 260);
        under.setShowScale (true);
        under.setLevels (-16.0f, -22.5f);
        under.setIntegratedLufs (-21.0f);

        auto& meas = page->add ("Measuring", bar<VocalMeterBar> (1), 70, 260);
        meas.setLevels (-16.0f, -18.4f);
        meas.setMeasureState (MeasureState::Measuring);

        auto& skip = page->add ("Skipped", bar<VocalMeterBar> (1), 70, 260);
        skip.setLevels (-16.0f, -30.0f);
        skip.setMeasureState (MeasureState::Skipped);

        auto& silent = page->add ("-inf", bar<InstMeterBar> (1), 70, 260);
        silent.setValueLufs (-130.0f);

        auto& range = page->add ("range -30..-6", bar<VocalMeterBar> (1), 80, 260);
        range.setShowScale (true);
        range.setRange (-30.0f, -6.0f);
        range.setLevels (-200.0f, -9.5f);

        auto& broken = page->add ("range -20..-19.5: -36..0", bar<VocalMeterBar> (1), 80, 260, 110);
        broken.setShowScale (true);
        broken.setRange (-20.0f, -19.5f);
        broken.setLevels (-200.0f, -9.5f);

        auto& small = page->add ("60 px", bar<VocalMeterBar> (1), 80, 60);
        small.setShowScale (true);
        small.setLevels (-200.0f, -14.0f);

        auto& narrow = page->add ("26 px: -23.7", bar<VocalMeterBar> (1), 26, 200, 60);
        narrow.setColumnWidth (14.0f);
        narrow.setLevels (-200.0f, -23.7f);

        auto& other = page->add ("other Vocal", bar<VocalMeterBar> (1), 30, 200, 70);
        other.hitInset = 5;
        other.setColumnWidth (16.0f);
        other.setCustomFill (juce::Colour (0xff6aa8ff));
        other.setLevels (-200.0f, -15.5f);
        other.setIntegratedLufs (-16.0f);
        other.setMarkerColour (juce::Colour (0xffe0922f));
    }

    page->finish();
    return page;
});

//==============================================================================
QVN_GALLERY_PAGE ("11_learn_history", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage> (780);
    using namespace qvn::theme;

    page->heading (ctx.text ("Section view: 3-minute take, trimmed, gain curve +3.5 dB", "セクション表示"));
    {
        auto& c = page->add ("trim 0.08..0.92, gated pauses", chart (false, ctx), 740, 250);
        fillThreeMinuteTake (c, false);
        c.trimStart = 0.08f;
        c.trimEnd = 0.92f;
        c.trimEditable = true;
        c.showGainCurve = true;
        c.totalGainDb = 3.5f;
        const auto hl = c.computeHeaderLayout();
        const int bracketW = (int) std::ceil (FlatLookAndFeel::jpBoldFont (11.0f).getStringWidthFloat (juce::String::charToString ((juce::juce_wchar) 0xff08)));
        page->probe ({ "legend opening bracket", Probe::ink, page->inPage (c, { (int) hl.legendX, 8, bracketW, 16 }), kCardCol });
        page->probe ({ "footer", Probe::ink, page->inPage (c, { 16, 250 - 24, 130, 18 }), kCardCol });
    }

    page->heading (ctx.text ("INST view with target line at -18", "INST 表示"));
    {
        auto& c = page->add ("INST, Match Gain curve", chart (true, ctx), 740, 220);
        fillThreeMinuteTake (c, true);
        c.trimEditable = true;
        c.showTargetLine = true;
        c.targetLineLufs = -18.0f;
        c.showGainCurve = true;
        c.totalGainDb = -2.0f;
        c.displayMinLufs = -29.5f;
    }

    page->heading (ctx.text ("Two hours of 100 ms blocks, drawn per pixel column", "2時間の履歴"));
    {
        auto& c = page->add ("72,000 points, trim 0.2..0.7, gain curve", chart (false, ctx), 740, 220);
        juce::Random rng (7);
        const int n = 72000;
        for (int i = 0; i < n; ++i)
        {
            const float t = (float) i * 0.1f;
            const bool pause = std::fmod (t, 40.0f) > 34.0f;
            const float vocal = pause ? -50.0f : -21.0f + 3.0f * std::sin (t * 0.01f) + rng.nextFloat() * 5.0f - 2.5f;
            c.push (vocal, -16.5f + 2.0f * std::sin (t * 0.002f) + rng.nextFloat() - 0.5f, pause);
        }
        c.lengthSeconds = (float) n * 0.1f;
        c.trimStart = 0.2f;
        c.trimEnd = 0.7f;
        c.trimEditable = true;
        c.showGainCurve = true;
        c.totalGainDb = 4.0f;
    }

    page->heading (ctx.text ("Narrow charts, empty and single point", "狭い表示・空・1点"));
    {
        auto& narrow = page->add ("400 px: legend and pill shortened", chart (false, ctx), 400, 200, 430);
        fillThreeMinuteTake (narrow, false);
        narrow.trimStart = 0.3f;
        narrow.trimEnd = 0.6f;
        narrow.dragMode = 2;
        narrow.trimEditable = true;
        narrow.showGainCurve = true;
        narrow.totalGainDb = -1.0f;

        auto& empty = page->add ("empty", chart (false, ctx), 420, 200);
        (void) empty;

        auto& one = page->add ("single point, not editable, pill hovered", chart (false, ctx), 420, 200);
        one.push (-18.0f, -16.0f, false);
        one.lengthSeconds = 0.4f;
        one.pillHover = true;
    }

    page->finish();
    return page;
});

//==============================================================================
QVN_GALLERY_PAGE ("12_popups", [] (const PageContext& ctx)
{
    auto page = std::make_unique<GalleryPage> (880);
    using namespace qvn::theme;

    // The fields take their outline from the call-out box's look, as in the editor.
    auto& boxLook = page->lookAndFeel<SquareCallOutBoxLF>();

    page->heading (ctx.text ("Display range popup", "表示範囲ポップアップ"));
    {
        auto meter = std::make_unique<RangeEditPopup> (-36.0f, 0.0f, -36.0f, 0.0f, rangeStrings (ctx));
        const int h = meter->titlePx() + 134;
        meter->setLookAndFeel (&boxLook);
        auto& m = page->add ("meter range -36..0", std::move (meter), 232, h, 250);
        page->probe ({ "range popup title", Probe::ink, page->inPage (m, { 12, 12, 208, m.titlePx() }), kPanelCol });

        auto learn = std::make_unique<RangeEditPopup> (-29.5f, -6.0f, -30.0f, -6.0f, rangeStrings (ctx));
        auto learnSize = learn->titlePx() + 134;
        learn->setSize (232, learnSize);
        page->add ("in its call-out box under the range pill", std::make_unique<CallOutHost> (std::move (learn), 300, learnSize + 34), 300, learnSize + 34, 320);
    }

    page->heading (ctx.text ("Offset Target popup", "Offset Target ポップアップ"));
    {
        auto fresh = std::make_unique<OffsetTargetEditPopup> (juce::String(), -2.0f, 2.0f, false, targetStrings (ctx, false));
        const int h = fresh->titlePx() + 166;
        fresh->setLookAndFeel (&boxLook);
        page->add ("new target: no Delete", std::move (fresh), 272, h, 282);

        auto edit = std::make_unique<OffsetTargetEditPopup> (ctx.text ("Pop Lead", "ポップ リード"), -1.5f, 3.0f, true, targetStrings (ctx, true));
        edit->setLookAndFeel (&boxLook);
        page->add ("existing target", std::move (edit), 272, h, 282);

        auto refused = std::make_unique<OffsetTargetEditPopup> ("Pop", -2.0f, 2.0f, false, targetStrings (ctx, false));
        refused->setLookAndFeel (&boxLook);
        refused->onCommit = [] (const juce::String&, float, float) { return false; };
        refused->commit();
        auto& r = page->add ("name refused", std::move (refused), 272, h, 282);
        page->probe ({ "refused outline", Probe::colour, page->inPage (r, { r.nameField.getX() + 40, r.nameField.getY(), 1, 1 }), kErrorCol });
    }

    page->heading (ctx.text ("Confirmation card", "確認カード"));
    page->add ("in a 380 px panel", std::make_unique<ConfirmHost> (ctx), 380, 240, 400);
    page->add ("in a 260 px panel", std::make_unique<ConfirmHost> (ctx), 260, 240, 280);

    page->finish();
    return page;
});
