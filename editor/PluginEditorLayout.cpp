#include "editor/PluginEditor.h"

#include "settings/AppSettings.h"
#include "ui/JuceCompat.h"

#include <cfloat>
#include <cmath>

namespace
{
const juce::Rectangle<int> kParked;

void park (juce::Component& c)
{
    c.setBounds (kParked);
}

int roundHalfEven (float v)
{
    return (int) std::nearbyint (v);
}

/** Descent difference between two bold sizes of the value font, rounded. */
int baselineShift (float valueSize, float unitSize)
{
    return juce::roundToInt (FlatLookAndFeel::font (valueSize, juce::Font::bold).getDescent()
                             - FlatLookAndFeel::font (unitSize, juce::Font::bold).getDescent());
}

/** One loudness card's caption, value and unit in the card (x, y, w, 90). */
void placeCard (juce::Rectangle<int> card, juce::Label& caption, juce::Label& value, juce::Label* unit, bool valueTakesBlock)
{
    const int x = card.getX() + 14 + (card.getWidth() - 28 - 182) / 2;
    const int y = card.getY();
    caption.setBounds (card.getX() + 14, y + 12, card.getWidth() - 28, 20);
    const int d1 = baselineShift (39.0f, 16.0f);
    if (valueTakesBlock)
        value.setBounds (x, y + 32, 182, 46);
    else
        value.setBounds (x, y + 32, 138, 46);
    if (unit != nullptr && ! valueTakesBlock)
        unit->setBounds (x + 138, y + 32 - d1, 44, 46);
}

/** One column of a gain card: caption, 92-wide value and 30-wide unit. */
void placeGainColumn (int colX, int colW, int top, juce::Label& caption, juce::Label& value, juce::Label& unit, bool placeCaption = true)
{
    if (placeCaption)
        caption.setBounds (colX + 10, top, juce::jmax (0, colW - 20), 20);
    const int x = colX + 10 + (juce::jmax (20, colW) - 142) / 2;
    const int d2 = baselineShift (36.0f, 17.0f);
    value.setBounds (x, top + 20, 92, 44);
    unit.setBounds (x + 92, top + 20 - d2, 30, 44);
}
} // namespace

//==============================================================================
int QuorvaneEditor::meterColumnStep (int k) noexcept
{
    if (k <= 0)
        return 0;
    if (k >= 16)
        return 26;
    return juce::jmin (240 / k, 30) + 10;
}

int QuorvaneEditor::windowWidthFor (int k) noexcept
{
    return k <= 0 ? kBaseWidth : kBaseWidth + k * meterColumnStep (k);
}

// A row the list does not show: its widgets and painted rectangles take no space.
void QuorvaneEditor::parkSectionRow (int i)
{
    park (sectionRows[(size_t) i]);
    for (auto& column : sectionCells)
        park (column[(size_t) i]);
    park (rowBypassButtons[(size_t) i]);
    park (rowResetButtons[(size_t) i]);
    park (rowLinkButtons[(size_t) i]);
    park (rowLockButtons[(size_t) i]);
    rowHighlightRects[(size_t) i] = {};
    rowBadgeRects[(size_t) i] = {};
    rowBarRects[(size_t) i] = {};
}

void QuorvaneEditor::applyLayoutForNumSections (int n)
{
    lastNumSections = juce::jlimit (1, 16, n);
    setBounds (getX(), getY(), windowWidthFor (otherVocalMeterCount), kWindowHeight);

    auto shared = UpdateChecker::getShared();
    if (updateChecker != nullptr && updateChecker != shared)
        updateChecker->removeChangeListener (this);
    updateChecker = std::move (shared);
    updateChecker->addChangeListener (this);
    updateChecker->maybeStartCheck();
    refreshUpdateUI();
}

//==============================================================================
void QuorvaneEditor::resized()
{
    const int W0 = windowWidthFor (otherVocalMeterCount);

    if (! layoutFixActive)
    {
        if (getWidth() != W0 || getHeight() != kWindowHeight)
        {
            if (layoutFixCount < 3)
            {
                ++layoutFixCount;
                layoutFixActive = true;
                setBounds (getX(), getY(), W0, kWindowHeight);
                layoutFixActive = false;
                return;
            }
        }
        else
        {
            layoutFixCount = 0;
        }
    }

    const int W = getWidth(), H = getHeight();
    const int role = currentRole();
    const bool conflict = proc.roleConflict.load();
    const bool instView = proc.instTargetUiOpen.load();

    // 1. Header controls, right to left.
    const int headerH = juce::jmin (H, 46);
    const int h = juce::jmax (0, headerH - 4);
    const int ch = (2 * h) / 3;
    const int cy = 2 + (h - ch) / 2;
    {
        int right = W - 8;
        auto take = [&right, cy, ch] (juce::Component* c, int w, int gapAfter)
        {
            right -= w;
            if (c != nullptr)
                c->setBounds (right, cy, w, ch);
            right -= gapAfter;
        };
        take (&settingsButton, 24, 4);
        take (redoButton.get(), 28, 0);
        take (undoButton.get(), 28, 10);
        take (&abCopyButton, 52, 6);
        take (&abToggle, 52, 0);
        if (sidebarButton != nullptr)
        {
            if (role == 2)
            {
                right -= 6;
                take (sidebarButton.get(), 28, 0);
            }
            else
            {
                park (*sidebarButton);
            }
        }
    }

    // 2. Role tabs.
    {
        const int th = juce::jmin (h, 30);
        const int ty = 2 + (h - th) / 2;
        vocalTab.setBounds (418, ty, 68, th);
        instTab.setBounds (486, ty, 68, th);
    }

    // 3. Rename field over the VOCAL tab, click catcher over everything.
    if (renameEditor.isVisible())
    {
        renameEditor.setBounds (vocalTab.getBounds());
        clickCatcher.setBounds (0, 0, W, H);
    }

    // 4. Body.
    auto body = juce::Rectangle<int> (0, 0, W, H).reduced (12);
    body.removeFromTop (48);

    if (role == 2)
    {
        layoutMeterRail (body);
        layoutSidebar (body);

        // 8. The grid columns of the wide section table are not part of this view.
        sectionCaption.setVisible (false);
        for (auto& c : columnCaptions)
            park (c);
        park (sectionStatusBadge);
        for (int i = 0; i < 16; ++i)
        {
            park (sectionCells[cellInst][(size_t) i]);
            park (sectionCells[cellLearnTime][(size_t) i]);
            park (sectionCells[cellOffsetGain][(size_t) i]);
        }

        layoutVocalColumn (body);
        park (linkAllButton);
        parkInstComponents();
    }
    else
    {
        parkVocalComponents();

        if (role == 1 && ! conflict && instView)
        {
            layoutInstTargetView (body);
        }
        else if (role == 1 && ! conflict)
        {
            parkInstComponents();
            const int top = juce::jmin (H, 46);
            const auto g = computeInstGateGeom ({ 0, top, W, H - top - juce::jmin (H - 46, 26) });
            setInstTargetButton.setBounds (g.buttonRect);
        }
        else
        {
            parkInstComponents();
        }
    }

    // 12. Every role, last.
    zoomGrip.setBounds (W - 14, H - 14, 14, 14);
    {
        const int footerH = juce::jmin (H, 26);
        auto footer = juce::Rectangle<int> (0, H - footerH, W, footerH);
        footer.removeFromRight (18);
        if (updateBell.isVisible())
        {
            updateBell.setBounds (footer.removeFromRight (236));
            footer.removeFromRight (6);
        }
        else
        {
            park (updateBell);
        }
        footer.removeFromLeft (12);
        statusLabel.setBounds (footer);
    }

    if (englishToggle.isVisible() || japaneseToggle.isVisible())
    {
        japaneseToggle.setBounds (W - 86, headerH + 16, 70, 21);
        englishToggle.setBounds (W - 154, headerH + 16, 62, 21);
    }
    else
    {
        park (englishToggle);
        park (japaneseToggle);
    }

    if (customWeightingPanel != nullptr && customWeightingPanel->isVisible())
        customWeightingPanel->setBounds (0, 0, W, H);

    rebuildSectionViews();
}

//==============================================================================
void QuorvaneEditor::layoutMeterRail (juce::Rectangle<int>& area)
{
    const int W = getWidth(), H = getHeight();
    const int k = otherVocalMeterCount;
    const int c = meterColumnStep (k);
    railCaptionY = area.getY() + 31;
    railColumnStep = c;
    railWidth = 176 + k * c;
    const int R = railWidth;
    area.removeFromRight (juce::jmin (area.getWidth(), R));
    railRect = { W - juce::jmin (W, R), 46, juce::jmin (W, R), juce::jmax (0, H - 72) };

    railModeButton.setBounds (W - R + 10, area.getY() + 3, juce::jmax (0, R - 20), 22);

    struct Slot
    {
        juce::Component* component;
        int width;
        bool labelStrip;
        bool gapBefore;
    };

    const int cw = k >= 16 ? 16 : (k > 0 ? juce::jmin (240 / k, 30) : 30);
    std::vector<Slot> slots;
    slots.push_back ({ &ownMeter, 38, true, false });
    slots.push_back ({ &partnerMeter, 38, false, false });
    for (auto& bar : otherVocalMeters)
    {
        bar->setColumnWidth ((float) cw);
        bar->hitInset = 5;
        slots.push_back ({ bar.get(), cw, false, true });
    }

    int total = 0;
    for (auto& s : slots)
        total += s.width + (s.labelStrip ? 22 : 0) + (s.gapBefore ? 10 : 0);

    int x = W - R + 10 + juce::jmax (0, (R - 20 - total) / 2);
    const int y = juce::jmin (H, 46) + juce::jmin (juce::jmax (0, H - 88), 58) + 8;
    const int hh = juce::jmax (0, juce::jmax (0, H - 88) - 58);

    for (auto& s : slots)
    {
        if (s.gapBefore)
            x += 10;
        const int w = s.width + (s.labelStrip ? 22 : 0);
        if (s.gapBefore)
            s.component->setBounds (x - 5, y, w + 10, hh);
        else
            s.component->setBounds (x, y, w, hh);
        x += w;
    }
}

void QuorvaneEditor::layoutSidebar (juce::Rectangle<int>& body)
{
    const int H = getHeight();
    juce::ignoreUnused (H);

    if (! sidebarVisible)
    {
        for (juce::Component* c : std::initializer_list<juce::Component*> {
                 &sectionsHeader, &allCaption, &allBypassButton, &allResetButton, &allLinkButton, &allLockButton,
                 &sectionListViewport, &sectionListContent })
            park (*c);
        sidebarHeaderRect = {};
        sidebarListRect = {};
        for (int i = 0; i < 16; ++i)
        {
            rowHighlightRects[(size_t) i] = {};
            rowBadgeRects[(size_t) i] = {};
            rowBarRects[(size_t) i] = {};
        }
        return;
    }

    const int sw = juce::jmin (body.getWidth(), 296);
    auto side = body.removeFromLeft (sw);
    side.setX (0);   // the panel starts at the window's left edge
    side.setWidth (sw);

    sidebarHeaderRect = side.withHeight (28);
    auto list = side.withTrimmedTop (28);
    list.removeFromBottom (14);
    list.removeFromTop (1);
    sidebarListRect = list;
    sectionListViewport.setBounds (list);

    // Title row.
    auto title = sidebarHeaderRect.reduced (12, 2);
    sectionsHeader.setBounds (title.removeFromLeft (72));
    title.removeFromRight (12);
    {
        auto icons = title.removeFromRight (70);
        const int iy = icons.getY() + (icons.getHeight() - 16) / 2;
        int ix = icons.getX();
        for (auto* b : { &allBypassButton, &allResetButton, &allLinkButton, &allLockButton })
        {
            b->setBounds (ix, iy, 16, 16);
            ix += 18;
        }
    }
    title.removeFromRight (6);
    allCaption.setBounds (title.removeFromRight (28));

    // List content, keeping the scroll position within the new range.
    const int contentH = juce::jmax (50 * lastNumSections + 6, list.getHeight());
    const auto oldPos = sectionListViewport.getViewPosition();
    sectionListContent.setBounds (0, 0, list.getWidth() - 8, contentH);
    const int maxY = juce::jmax (0, contentH - list.getHeight());
    sectionListViewport.setViewPosition (0, juce::jlimit (0, maxY, oldPos.y));

    for (int i = 0; i < 16; ++i)
    {
        auto& row = sectionRows[(size_t) i];
        if (i >= lastNumSections)
        {
            parkSectionRow (i);
            continue;
        }

        const int y = 1 + 50 * i;
        const juce::Rectangle<int> r (12, y, 264, 48);
        rowHighlightRects[(size_t) i] = r;
        row.setBounds (r);

        auto inner = r.reduced (4);
        rowBadgeRects[(size_t) i] = { inner.getX(), inner.getY() + (inner.getHeight() - 28) / 2, 28, 28 };
        inner.removeFromLeft (28 + 8);
        auto icons = inner.removeFromRight (70);
        int ix = icons.getX();
        for (auto* b : { &rowBypassButtons[(size_t) i], &rowResetButtons[(size_t) i],
                         &rowLinkButtons[(size_t) i], &rowLockButtons[(size_t) i] })
        {
            b->setBounds (ix, y + 16, 16, 16);
            ix += 18;
        }
        inner.removeFromRight (6);

        const int tx = inner.getX();
        auto& match = sectionCells[cellMatch][(size_t) i];
        auto& offset = sectionCells[cellOffset][(size_t) i];
        auto& total = sectionCells[cellTotal][(size_t) i];
        match.setBounds (tx, y + 13, 34, 20);
        offset.setBounds (tx + 44, y + 13, 34, 20);
        total.setBounds (tx + 88, y + 13, 56, 20);
        int cellIndex = 0;
        for (auto* cell : { &match, &offset, &total })
        {
            cell->setInterceptsMouseClicks (false, false);
            cell->setBorderSize ({});
            cell->setJustificationType (juce::Justification::bottomLeft);
            cell->setMinimumHorizontalScale (0.55f);
            cell->setFont (FlatLookAndFeel::font (cellIndex++ < 2 ? 14.0f : 16.0f, juce::Font::bold));
        }
        park (sectionCells[cellMatchGain][(size_t) i]);
        rowBarRects[(size_t) i] = { tx, y + 33, inner.getWidth(), 3 };
    }
}

void QuorvaneEditor::layoutVocalColumn (juce::Rectangle<int> body)
{
    const int bx = body.getX(), bw = body.getWidth();
    const int top = body.getY();
    const int hw = (bw - 10) / 2;

    // Stepper row.
    prevSectionButton.setBounds (bx, top + 3, 18, 38);
    stepperBadgeRect = { bx + 18, top + 3, 38, 38 };
    nextSectionButton.setBounds (bx + 56, top + 3, 18, 38);
    matchButton.setBounds (bx + bw - hw, top + 2, hw, 40);
    const int tw = juce::jmax (0, bw - 82 - hw);
    sectionTitle.setBounds (bx + 82, top, tw, 22);
    learnStatus.setBounds (bx + 82, top + 22, tw, 22);

    // Loudness cards.
    const int cardsY = top + 44 + 12;
    vocalCardsRect = { bx, cardsY, bw, 90 };
    const bool measuring = proc.ownSlot != nullptr
                           && proc.ownSlot->ownSections[(size_t) juce::jlimit (0, 15, shownSection)].measuring.load();
    placeCard ({ bx, cardsY, hw, 90 }, vocalLufsCaption, vocalLufsValue, &vocalLufsUnit, measuring);
    placeCard ({ bx + hw + 10, cardsY, bw - hw - 10, 90 }, instLufsCaption, instLufsValue, &instLufsUnit, measuring);

    // Gain card.
    const int gainY = cardsY + 90 + 12;
    vocalGainCardRect = { bx, gainY, bw, 118 };
    const int ix = bx + 14, iy = gainY + 8, iw = bw - 28;
    const int c1 = juce::jmin (iw, 126);
    const int c3 = juce::jmin (iw - c1, 126);
    const int m = iw - c1 - c3;
    placeGainColumn (ix, c1, iy, matchGainCaption, matchValue, matchUnit);
    placeGainColumn (ix + iw - c3, c3, iy, totalGainCaption, totalValue, totalUnit);
    placeGainColumn (ix + c1, m, iy, offsetGainCaption, offsetValue, offsetUnit, false);
    {
        const auto font = FlatLookAndFeel::font (16.0f, juce::Font::bold);
        const auto border = offsetGainCaption.getBorderSize();
        const int textW = juce::roundToInt (qvn::compat::stringWidth (font, offsetGainCaption.getText()));
        const int avail = juce::jmax (0, m - 14);
        const int capW = juce::jmax (0, juce::jmin (avail, textW + border.getLeft() + border.getRight() + 1));
        const int capX = ix + c1 + 10;
        offsetGainCaption.setBounds (capX, iy, capW, 20);
        const int gap = juce::jmin (4, avail - capW);
        offsetTargetButton.setBounds (capX + capW + gap, iy, juce::jmax (0, avail - capW - gap), 20);
    }
    park (gainDetailCaption);
    offsetSlider.setBounds (bx + 24, iy + 68, juce::jmax (20, iw) - 20, 34);

    // Learn History chart.
    const int chartY = gainY + 118 + 12;
    vocalChartRect = { bx, chartY, bw, juce::jmax (0, juce::jmin (body.getBottom() - chartY, 226)) };
    sectionChart.setBounds (vocalChartRect);
}

void QuorvaneEditor::layoutInstTargetView (juce::Rectangle<int> body)
{
    layoutMeterRail (body);
    const int bx = body.getX(), bw = body.getWidth(), top = body.getY();
    const int hw = (bw - 10) / 2;

    backToInstStatusButton.setBounds (bx, top + 2, hw, 40);
    instMeasureButton.setBounds (bx + bw - hw, top + 2, hw, 40);
    park (setInstTargetButton);

    const int cardsY = top + 56;
    instCardsRect = { bx, cardsY, bw, 90 };
    instLeftCardRect = { bx, cardsY, hw, 90 };
    instRightCardRect = { bx + hw + 10, cardsY, bw - hw - 10, 90 };
    const bool measuring = proc.instMeasuring.load();
    placeCard (instLeftCardRect, instLufsCardCaption, instCardLufsValue, measuring ? nullptr : &instCardLufsUnit, measuring);
    if (measuring)
    {
        park (instCardLufsUnit);
        instCardLufsUnit.setVisible (false);
    }
    else
    {
        instCardLufsUnit.setVisible (true);
    }
    placeCard (instRightCardRect, instTargetCaption, targetLufsValue, &targetLufsUnit, false);

    const int gainY = cardsY + 102;
    instGainCardRect = { bx, gainY, bw, 118 };
    const int ix = bx + 14, iy = gainY + 8, iw = bw - 28;
    const int c = iw / 3;
    placeGainColumn (ix, c, iy, instMatchCaption, instMatchValue, instMatchUnit);
    placeGainColumn (ix + c, c, iy, instOffsetCaption, instOffsetValue, instOffsetUnit);
    placeGainColumn (ix + 2 * c, iw - 2 * c, iy, instTotalCaption, instTotalValue, instTotalUnit);

    instSliderRect = { bx + 24, iy + 68, juce::jmax (20, iw) - 20, 34 };
    instOffsetSlider.setBounds (instSliderRect);
    const int chartY = gainY + 130;
    instChartRect = { bx, chartY, bw, juce::jmax (0, juce::jmin (body.getBottom() - chartY, 226)) };
    instChart.setBounds (instChartRect);
}

void QuorvaneEditor::parkVocalComponents()
{
    for (juce::Component* c : std::initializer_list<juce::Component*> {
             &ownMeter, &partnerMeter, &railModeButton, &sectionListViewport, &sectionListContent, &sectionsHeader,
             &allCaption, &allBypassButton, &allResetButton, &allLinkButton, &allLockButton, &linkAllButton,
             &matchButton, &offsetTargetButton, &prevSectionButton, &nextSectionButton, &sectionTitle, &learnStatus,
             &sectionStatusBadge, &vocalLufsCaption, &instLufsCaption, &vocalLufsValue, &instLufsValue, &vocalLufsUnit,
             &instLufsUnit, &gainDetailCaption, &matchGainCaption, &matchValue, &matchUnit, &offsetGainCaption,
             &offsetUnit, &offsetValue, &totalGainCaption, &totalValue, &totalUnit, &offsetSlider, &sectionChart })
        park (*c);

    for (auto& bar : otherVocalMeters)
        park (*bar);
    for (auto& c : columnCaptions)
        park (c);

    for (int i = 0; i < 16; ++i)
    {
        parkSectionRow (i);
    }

    sidebarHeaderRect = {};
    sidebarListRect = {};
    stepperBadgeRect = {};
    vocalCardsRect = {};
    vocalGainCardRect = {};
    vocalChartRect = {};
}

void QuorvaneEditor::parkInstComponents()
{
    for (juce::Component* c : std::initializer_list<juce::Component*> {
             &instMeasureButton, &instLufsCardCaption, &instTargetCaption, &instCardLufsValue, &targetLufsValue,
             &instCardLufsUnit, &targetLufsUnit, &instMatchCaption, &instOffsetCaption, &instTotalCaption,
             &instMatchValue, &instOffsetValue, &instTotalValue, &instMatchUnit, &instOffsetUnit, &instTotalUnit,
             &instOffsetSlider, &instChart, &setInstTargetButton, &backToInstStatusButton })
        park (*c);

    instCardsRect = {};
    instGainCardRect = {};
    instChartRect = {};
    instLeftCardRect = {};
    instRightCardRect = {};
    instSliderRect = {};
}

//==============================================================================
namespace
{
struct GateFonts
{
    juce::Font title, body;
};

GateFonts gateFonts (bool japanese)
{
    if (japanese)
        return { FlatLookAndFeel::jpBoldFont (18.0f).withExtraKerningFactor (0.08f),
                 FlatLookAndFeel::jpFont (15.5f).withExtraKerningFactor (0.03f) };
    return { FlatLookAndFeel::dinFont (15.0f, juce::Font::bold).withExtraKerningFactor (0.16f),
             FlatLookAndFeel::dinFont (13.0f).withExtraKerningFactor (0.02f) };
}
} // namespace

QuorvaneEditor::InstGateGeom QuorvaneEditor::computeInstGateGeom (juce::Rectangle<int> area) const
{
    InstGateGeom g;
    const bool japanese = proc.tooltipLang.load() == 1;
    const int n = proc.hasPartner.load() ? proc.partnerCount.load() : 0;
    const auto copy = qvn::uiText::instPlaceholderCopy (japanese, false, n);
    const auto fonts = gateFonts (japanese);

    juce::AttributedString title;
    title.setJustification (juce::Justification::centred);
    title.setWordWrap (juce::AttributedString::byWord);
    qvn::compat::appendText (title, copy.title, fonts.title, qvn::theme::kTextCol);
    if (copy.roleAccent.isNotEmpty())
        qvn::compat::appendText (title, copy.roleAccent, fonts.title, qvn::theme::kAccentCol);
    if (copy.roleTail.isNotEmpty())
        qvn::compat::appendText (title, copy.roleTail, fonts.title, qvn::theme::kTextCol);

    juce::AttributedString body;
    body.setJustification (juce::Justification::centred);
    body.setWordWrap (juce::AttributedString::byWord);
    qvn::compat::appendText (body, copy.body, fonts.body, qvn::theme::kCaptionCol);

    const float L = (float) juce::jmin (area.getWidth() - 80, 520);
    qvn::compat::createLayout (g.titleLayout, title, L);
    qvn::compat::createLayout (g.bodyLayout, body, L);

    g.centreX = (float) (area.getX() + area.getWidth() / 2);
    const float centreY = (float) area.getY() + (float) area.getHeight() / 2.0f;
    const float th = g.titleLayout.getHeight(), bh = g.bodyLayout.getHeight();
    const float top = centreY - (44.0f + th + 12.0f + bh + 26.0f + 40.0f) / 2.0f;

    g.iconBox = { g.centreX - 14.0f, top, 28.0f, 28.0f };
    const int x = roundHalfEven (g.centreX - L / 2.0f);
    g.titleRect = { x, roundHalfEven (top + 44.0f), roundHalfEven (L), roundHalfEven (th) };
    const float bodyTop = top + 44.0f + th + 12.0f;
    g.bodyRect = { x, roundHalfEven (bodyTop), roundHalfEven (L), roundHalfEven (bh) };
    const float bw = juce::jmin (L, 420.0f);
    g.buttonRect = { roundHalfEven (g.centreX - bw / 2.0f), roundHalfEven (bodyTop + bh + 26.0f), roundHalfEven (bw), 40 };
    return g;
}

//==============================================================================
void QuorvaneEditor::setScaleFactor (float newScale)
{
    hostScale = newScale;
    juce::AudioProcessorEditor::setScaleFactor (newScale * userZoom);
}

void QuorvaneEditor::applyUserZoomLocal (float z)
{
    z = z < 0.5f ? 0.5f : juce::jmin (z, 2.0f);
    if (juce::approximatelyEqual (z, userZoom))
        return;

    userZoom = z;
    juce::AudioProcessorEditor::setScaleFactor (hostScale * z);

    const int W = windowWidthFor (otherVocalMeterCount);
    if (getWidth() != W || getHeight() != kWindowHeight)
    {
        layoutFixCount = 0;
        setBounds (getX(), getY(), W, kWindowHeight);
    }
}

void QuorvaneEditor::applyUserZoom (float z)
{
    z = z < 0.5f ? 0.5f : juce::jmin (z, 2.0f);
    auto& store = AppSettings::get();
    store.setEditorZoom ((double) z);

    applyUserZoomLocal (z);

    if (store.zoomLinked())
        for (auto* other : liveEditors())
            if (other != this)
                other->applyUserZoomLocal (z);
}
