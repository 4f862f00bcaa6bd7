#include "editor/PluginEditor.h"

#include "ui/JuceCompat.h"

#include <cmath>

//==============================================================================
qvn::uiText::InstPlaceholderCopy qvn::uiText::instPlaceholderCopy (bool japanese, bool conflict, int n)
{
    auto u = [] (const char* s) { return juce::String::fromUTF8 (s); };

    if (conflict)
    {
        if (japanese)
            return { u ("\xe3\x83\xad\xe3\x83\xbc\xe3\x83\xab\xe7\xab\xb6\xe5\x90\x88"), {}, {},
                     u ("\xe5\x88\xa5\xe3\x81\xae\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x82\xb9\xe3\x81\x8c"
                        "\xe3\x81\x99\xe3\x81\xa7\xe3\x81\xab Inst \xe3\x81\xab\xe8\xa8\xad\xe5\xae\x9a\xe3\x81\x95\xe3\x82\x8c\xe3\x81\xa6"
                        "\xe3\x81\x84\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82\xe5\x88\xa5\xe3\x81\xae\xe3\x83\xad\xe3\x83\xbc\xe3\x83\xab\xe3\x81\xab"
                        "\xe5\x88\x87\xe3\x82\x8a\xe6\x9b\xbf\xe3\x81\x88\xe3\x81\xa6\xe3\x81\x8f\xe3\x81\xa0\xe3\x81\x95\xe3\x81\x84\xe3\x80\x82") };
        return { "ROLE CONFLICT", {}, {}, "Another instance is already using Inst. Set this instance to a different role." };
    }

    const juce::String titleJa = u ("\xe3\x81\x93\xe3\x81\xae\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x82\xb9\xe3\x81\xaf ");
    const juce::String tailJa = u (" \xe3\x81\xab\xe8\xa8\xad\xe5\xae\x9a\xe3\x81\x95\xe3\x82\x8c\xe3\x81\xa6\xe3\x81\x84\xe3\x81\xbe\xe3\x81\x99");
    // "Section data, meters and gain controls appear only on the Vocal-side instance."
    const juce::String closingJa = u ("\xe3\x82\xbb\xe3\x82\xaf\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\xb3\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf\xe3\x80\x81"
                                      "\xe3\x83\xa1\xe3\x83\xbc\xe3\x82\xbf\xe3\x83\xbc\xe3\x80\x81\xe3\x82\xb2\xe3\x82\xa4\xe3\x83\xb3\xe6\x93\x8d"
                                      "\xe4\xbd\x9c\xe3\x81\xaf Vocal \xe5\x81\xb4\xe3\x81\xae\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3"
                                      "\xe3\x82\xb9\xe3\x81\xab\xe8\xa1\xa8\xe7\xa4\xba\xe3\x81\x95\xe3\x82\x8c\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82");

    if (n > 0)
    {
        if (japanese)
            return { titleJa, "INST", tailJa,
                     u ("\xe6\x8e\xa5\xe7\xb6\x9a\xe6\xb8\x88\xe3\x81\xbf: ") + juce::String (n)
                         + u (" \xe5\x80\x8b\xe3\x81\xae Vocal \xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x82\xb9\xe3\x80\x82")
                         + closingJa };
        return { "THIS INSTANCE IS SET TO ", "INST", {},
                 "Connected to " + juce::String (n) + " Vocal instance" + (n == 1 ? "" : "s")
                     + ". Section data, meters and gain controls appear only on the Vocal-side instance." };
    }

    if (japanese)
        return { titleJa, "INST", tailJa,
                 u ("\xe5\x88\xa5\xe3\x81\xae\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\x92 Vocal "
                    "\xe3\x83\x88\xe3\x83\xa9\xe3\x83\x83\xe3\x82\xaf\xe3\x81\xab\xe6\x8c\xbf\xe3\x81\x97\xe3\x81\xa6\xe3\x83\x9e\xe3\x83\x83"
                    "\xe3\x83\x81\xe3\x83\xb3\xe3\x82\xb0\xe3\x82\x92\xe9\x96\x8b\xe5\xa7\x8b\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82")
                     + closingJa };
    return { "THIS INSTANCE IS SET TO ", "INST", {},
             "Place another instance on your Vocal track to start matching. Section data, meters and gain controls appear only on the Vocal-side instance." };
}

//==============================================================================
namespace
{
const juce::Colour kCardOutline { 0x14ffffff };

juce::Rectangle<float> shrunkOutline (juce::Rectangle<float> r, float by, float shrink)
{
    return { r.getX() + by, r.getY() + by, juce::jmax (0.0f, r.getWidth() - shrink), juce::jmax (0.0f, r.getHeight() - shrink) };
}

void fillCard (juce::Graphics& g, juce::Rectangle<int> r)
{
    g.setColour (qvn::theme::kCardCol);
    g.fillRoundedRectangle (r.toFloat(), 6.0f);
    g.setColour (kCardOutline);
    g.drawRoundedRectangle (shrunkOutline (r.toFloat(), 0.5f, 1.0f), 6.0f, 1.0f);
}

void paintTwoUpCardBackground (juce::Graphics& g, juce::Rectangle<int> r)
{
    const int half = juce::jmax (0, (r.getWidth() - 10) / 2);
    fillCard (g, { r.getX(), r.getY(), half, r.getHeight() });
    fillCard (g, { r.getRight() - half, r.getY(), half, r.getHeight() });
}

void paintSeparators (juce::Graphics& g, juce::Rectangle<int> r, int x1, int x2)
{
    const int y0 = r.getY() + 8;
    const int y1 = r.getY() + juce::jmax (38, r.getHeight() - 16) - 30;
    if (y1 <= y0)
        return;
    g.setColour (qvn::theme::kLineCol);
    g.fillRect (x1, y0, 1, y1 - y0);
    g.fillRect (x2, y0, 1, y1 - y0);
}

void paintGainBreakdownBackground (juce::Graphics& g, juce::Rectangle<int> r, int)
{
    fillCard (g, r);
    const int t = juce::jmax (0, r.getWidth() - 28) / 3;
    paintSeparators (g, r, r.getX() + 14 + t, r.getX() + 14 + 2 * t);
}

juce::String shortened (const juce::String& s)
{
    return s.length() <= 6 ? s : s.substring (0, 5) + "...";
}

void drawIconCircle (juce::Graphics& g, juce::Rectangle<float> box)
{
    g.setColour (qvn::theme::kMutedCol);
    g.drawEllipse (box.reduced (0.7f), 1.4f);
    const auto c = box.getCentre();
    g.fillEllipse (c.x - 2.5f, c.y - 2.5f, 5.0f, 5.0f);
}
} // namespace

//==============================================================================
void QuorvaneEditor::paint (juce::Graphics& g)
{
    const int W = getWidth(), H = getHeight();
    const int role = currentRole();
    const bool conflict = proc.roleConflict.load();
    const bool instView = proc.instTargetUiOpen.load();
    const bool railShown = role == 2 || (role == 1 && instView && ! conflict);

    // 1-4. Window, footer band, logo, header band. The window colour is only
    // laid where no opaque band or panel covers it afterwards: at 200 % the
    // plain fills are most of a repaint.
    const int footerH = juce::jmin (H, 26);
    const int railW = railShown ? juce::jmin (W, 176 + otherVocalMeterCount * meterColumnStep (otherVocalMeterCount)) : 0;
    {
        juce::RectangleList<int> window (juce::Rectangle<int> (0, 0, W, H));
        window.subtract ({ 0, 0, W, juce::jmin (H, 46) });
        window.subtract ({ 0, H - footerH, W, footerH });
        if (railW > 0)
            window.subtract ({ W - railW, 46, railW, H - 72 });
        if (! sidebarListRect.isEmpty())
            window.subtract ({ 0, 46, juce::jmin (W, 296), H - 72 });
        g.setColour (qvn::theme::kWindowCol);
        g.fillRectList (window);
    }
    g.setColour (qvn::theme::kDeepCol);
    g.fillRect (0, H - footerH, W, footerH);
    if (W > 0)
    {
        g.setColour (qvn::theme::kLineCol);
        g.fillRect (0, H - footerH, W, 1);
    }
    if (logoDrawable != nullptr)
        logoDrawable->drawWithin (g, { ((float) W - 75.48634f) / 2.0f, (float) (H - 26) + (26.0f - 14.5f) / 2.0f, 75.48634f, 14.5f },
                                  juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize, 1.0f);
    g.setColour (qvn::theme::kDeepCol);
    g.fillRect (0, 0, W, juce::jmin (H, 46));

    // 5. Meter rail and the captions above its columns.
    if (railShown)
    {
        const int R = 176 + otherVocalMeterCount * meterColumnStep (otherVocalMeterCount);
        g.setColour (qvn::theme::kCardCol);
        g.fillRect (W - R, 46, R, H - 72);
        if (H - 26 > 46)
        {
            g.setColour (qvn::theme::kLineCol);
            g.fillRect (W - R, 46, 1, H - 72);
        }

        g.setColour (qvn::theme::kMutedCol);
        auto caption = [this, &g] (const juce::Component& c, const juce::String& text, bool strip)
        {
            if (! c.isVisible() || c.getWidth() <= 0 || c.getHeight() <= 0)
                return;
            g.setFont (FlatLookAndFeel::needsJapaneseFace (text) ? FlatLookAndFeel::jpBoldFont (16.0f)
                                                                 : FlatLookAndFeel::font (13.0f, juce::Font::bold));
            const juce::Rectangle<int> box (c.getX(), railCaptionY, c.getWidth() - (strip ? 22 : 0), 18);
            qvn::compat::drawFittedText (g, text, box, juce::Justification::centred, 1, 0.85f);
        };

        if (role == 2)
        {
            caption (ownMeter, shortened (ownVocalTitle()), true);
            caption (partnerMeter, "INST", false);
        }
        else
        {
            caption (ownMeter, "INST", true);
            caption (partnerMeter, "VOCAL", false);
        }

        for (size_t i = 0; i < otherVocalMeters.size(); ++i)
        {
            const auto name = i < otherVocalNames.size() ? otherVocalNames[i] : juce::String();
            juce::String text;
            if (name.isEmpty())
            {
                const int number = i < otherVocalNumbers.size() ? otherVocalNumbers[i] : 0;
                text = "Vo" + juce::String (number > 0 ? number : (int) i + 2);
            }
            else
            {
                text = shortened (name);
            }
            caption (*otherVocalMeters[i], text, false);
        }
    }

    // 6. Section sidebar panel.
    if (! sidebarListRect.isEmpty())
    {
        const int sw = juce::jmin (W, 296);
        g.setColour (qvn::theme::kCardCol);
        g.fillRect (0, 46, sw, H - 72);
        g.setColour (qvn::theme::kLineCol);
        if (H - 26 > 46)
            g.fillRect (sw, 46, 1, H - 72);
        if (! sidebarHeaderRect.isEmpty())
            g.fillRect (sidebarHeaderRect.getX(), sidebarHeaderRect.getBottom(), sidebarHeaderRect.getWidth(), 1);
    }

    // 7. Body by role.
    const juce::Rectangle<int> bodyArea (0, 46, W, H - 72);
    if (role == 0)
    {
        paintQuickStart (g, bodyArea);
    }
    else if (role == 1 && ! conflict && ! instView)
    {
        const auto geom = computeInstGateGeom (bodyArea);
        drawIconCircle (g, geom.iconBox);
        geom.titleLayout.draw (g, geom.titleRect.toFloat());
        geom.bodyLayout.draw (g, geom.bodyRect.toFloat());
    }
    else if (role == 1 && ! conflict)
    {
        if (! instCardsRect.isEmpty())
            paintTwoUpCardBackground (g, instCardsRect);
        if (! instGainCardRect.isEmpty())
            paintGainBreakdownBackground (g, instGainCardRect, 0);
    }
    else if (role == 1)
    {
        const bool japanese = proc.tooltipLang.load() == 1;
        const auto c = qvn::uiText::instPlaceholderCopy (japanese, true, proc.hasPartner.load() ? proc.partnerCount.load() : 0);
        const auto titleFont = japanese ? FlatLookAndFeel::jpBoldFont (18.0f).withExtraKerningFactor (0.08f)
                                        : FlatLookAndFeel::dinFont (15.0f, juce::Font::bold).withExtraKerningFactor (0.16f);
        const auto bodyFont = japanese ? FlatLookAndFeel::jpFont (15.5f).withExtraKerningFactor (0.03f)
                                       : FlatLookAndFeel::dinFont (13.0f).withExtraKerningFactor (0.02f);

        juce::AttributedString title, body;
        for (auto* s : { &title, &body })
        {
            s->setJustification (juce::Justification::centred);
            s->setWordWrap (juce::AttributedString::byWord);
        }
        qvn::compat::appendText (title, c.title, titleFont, qvn::theme::kErrorCol);
        if (c.roleAccent.isNotEmpty())
            qvn::compat::appendText (title, c.roleAccent, titleFont, qvn::theme::kAccentCol);
        if (c.roleTail.isNotEmpty())
            qvn::compat::appendText (title, c.roleTail, titleFont, qvn::theme::kErrorCol);
        qvn::compat::appendText (body, c.body, bodyFont, qvn::theme::kCaptionCol);

        const float L = (float) juce::jmin (W - 80, 520);
        juce::TextLayout tl, bl;
        qvn::compat::createLayout (tl, title, L);
        qvn::compat::createLayout (bl, body, L);

        const float cx = (float) (W / 2);
        const float cy = (float) (46 + (H - 72) / 2);
        const float top = cy - (44.0f + tl.getHeight() + 12.0f + bl.getHeight()) / 2.0f;
        drawIconCircle (g, { cx - 14.0f, top, 28.0f, 28.0f });
        tl.draw (g, { cx - L / 2.0f, top + 44.0f, L, tl.getHeight() });
        bl.draw (g, { cx - L / 2.0f, top + 44.0f + tl.getHeight() + 12.0f, L, bl.getHeight() });
    }

    // 8. Title artwork.
    if (titleDrawable != nullptr)
    {
        const auto db = titleDrawable->getDrawableBounds();
        const float tw = db.getHeight() > 0.0f ? juce::jmin (238.0f, 12.0f * db.getWidth() / db.getHeight()) : 238.0f;
        titleDrawable->drawWithin (g, { 20.0f, 17.0f, tw, 12.0f },
                                   juce::RectanglePlacement::xLeft | juce::RectanglePlacement::yMid
                                       | juce::RectanglePlacement::onlyReduceInSize,
                                   1.0f);
    }

    // 9. Line under the header.
    if (W > 0)
    {
        g.setColour (qvn::theme::kLineCol);
        g.fillRect (0, juce::jmin (H, 46), W, 1);
    }

    // 10. Vocal view: stepper badge and card faces.
    if (role == 2)
    {
        const int n = proc.numSections.load();
        if (! stepperBadgeRect.isEmpty() && n > 0)
            drawSectionBadge (g, stepperBadgeRect, juce::jlimit (0, n - 1, shownSection), 20.0f);

        if (! vocalCardsRect.isEmpty())
            paintTwoUpCardBackground (g, vocalCardsRect);

        if (! vocalGainCardRect.isEmpty())
        {
            const auto r = vocalGainCardRect;
            fillCard (g, r);
            paintSeparators (g, r, r.getX() + 140, r.getX() + juce::jmax (0, r.getWidth() - 28) - 112);
        }
    }
}

//==============================================================================
void QuorvaneEditor::drawSectionBadge (juce::Graphics& g, juce::Rectangle<int> r, int index, float size) const
{
    if (r.getWidth() < 1 || r.getHeight() < 1)
        return;

    const auto& v = sectionRowViews[(size_t) juce::jlimit (0, 15, index)];
    const float cr = juce::jmin (0.22f * (float) r.getWidth(), 8.0f);
    const bool dim = ! v.measuring && ! v.isShown && lastFollowState;
    auto dimmed = [dim] (juce::Colour c) { return dim ? c.withAlpha ((juce::uint8) 0x59) : c; };
    const auto rf = r.toFloat();
    juce::Colour letter;

    if (v.measuring)
    {
        g.setColour (qvn::theme::kOrangeCol);
        g.fillRoundedRectangle (rf, cr);
        letter = qvn::theme::kWindowCol;
    }
    else if (v.isShown)
    {
        g.setColour (qvn::theme::kAccentCol);
        g.fillRoundedRectangle (rf, cr);
        letter = qvn::theme::kWindowCol;
    }
    else if (v.hasBoth)
    {
        g.setColour (dimmed (size < 20.0f ? juce::Colour (0xff1f2226) : qvn::theme::kButtonCol));
        g.fillRoundedRectangle (rf, cr);
        g.setColour (juce::Colour (dim ? 0x07ffffffu : 0x14ffffffu));
        g.drawRoundedRectangle (shrunkOutline (rf, 0.5f, 1.0f), cr, 1.0f);
        letter = juce::Colours::white;
    }
    else
    {
        juce::Path outline;
        outline.addRoundedRectangle (shrunkOutline (rf, 0.75f, 1.5f), cr);
        juce::Path dashed;
        const float dashes[] = { 3.0f, 3.0f };
        juce::PathStrokeType (1.2f, juce::PathStrokeType::mitered).createDashedStroke (dashed, outline, dashes, 2);
        g.setColour (dimmed (qvn::theme::kMutedCol));
        g.fillPath (dashed);
        letter = qvn::theme::kMutedCol;
    }

    if (v.linkGroup > 0)
    {
        static const juce::uint32 groups[3] = { 0xffc04a4a, 0xff3ecf82, 0xff4a82c0 };
        const juce::Colour c (v.linkGroup <= 3 ? groups[v.linkGroup - 1] : 0xff2a322c);
        g.setColour (dimmed (c));
        g.drawRoundedRectangle (shrunkOutline (rf, 0.75f, 1.5f), juce::jmax (0.0f, cr - 0.75f), 1.5f);
    }

    if (dim)
        letter = letter.withAlpha ((juce::uint8) juce::jmin (255, juce::roundToInt ((float) letter.getAlpha() * 0.35f)));
    g.setColour (letter);
    g.setFont (FlatLookAndFeel::font (size + 1.5f, juce::Font::bold));
    g.drawText (juce::String::charToString ((juce::juce_wchar) ('A' + juce::jlimit (0, 15, index))), r,
                juce::Justification::centred, false);
}

//==============================================================================
void QuorvaneEditor::PrimaryCtaButton::paintButton (juce::Graphics& g, bool highlighted, bool down)
{
    const float w = (float) getWidth(), h = (float) getHeight();
    const juce::Rectangle<float> inner (1.0f, 1.0f, juce::jmax (0.0f, w - 2.0f), juce::jmax (0.0f, h - 2.0f));

    juce::Path shape;
    shape.addRoundedRectangle (inner, 9.0f);
    juce::DropShadow (juce::Colour (highlighted ? 0x8c39c98au : 0x6139c98au), highlighted ? 24 : 16, {}).drawForPath (g, shape);

    auto scale = [down] (juce::Colour c)
    {
        if (! down)
            return c;
        auto f = [] (juce::uint8 v) { return (juce::uint8) (int) ((float) v * 0.9090909f); };
        return juce::Colour (f (c.getRed()), f (c.getGreen()), f (c.getBlue()), c.getAlpha());
    };
    const auto light = scale (juce::Colour (highlighted ? 0xff91f0c7u : 0xff8bf0c4u));
    const auto dark = scale (juce::Colour (highlighted ? 0xff44cc90u : 0xff39c98au));
    g.setGradientFill (juce::ColourGradient (light, w / 2.0f, 1.0f, dark, w / 2.0f, h - 1.0f, false));
    g.fillRoundedRectangle (inner, 9.0f);

    g.setColour (juce::Colour (0x47ffffff));
    g.drawLine (10.0f, 2.0f, w - 10.0f, 2.0f, 1.0f);

    g.setColour (juce::Colour (0x29000000));
    g.drawRoundedRectangle ({ 1.5f, 1.5f, juce::jmax (0.0f, w - 3.0f), juce::jmax (0.0f, h - 3.0f) }, 9.0f, 1.0f);

    g.setColour (juce::Colours::white);
    g.setFont (FlatLookAndFeel::dinFont (15.0f, juce::Font::bold).withExtraKerningFactor (0.1f));
    g.drawText (getButtonText(), inner, juce::Justification::centred, false);

    if (style != 2)
    {
        g.setColour (juce::Colour (0x8cffffff));
        g.setFont (FlatLookAndFeel::font (20.0f, juce::Font::bold));
        const float aw = juce::jmin (24.0f, juce::jmax (0.0f, w - 16.0f));
        if (style == 1)
            g.drawText (juce::String::fromUTF8 ("\xe2\x80\xb9"), juce::Rectangle<float> (15.0f, 1.0f, aw, h - 2.0f), juce::Justification::centred, false);
        else
            g.drawText (juce::String::fromUTF8 ("\xe2\x80\xba"), juce::Rectangle<float> (juce::jmax (0.0f, w - 16.0f) + 1.0f - aw, 1.0f, aw, h - 2.0f),
                        juce::Justification::centred, false);
    }
}

//==============================================================================
void QuorvaneEditor::paintQuickStart (juce::Graphics& g, juce::Rectangle<int> area) const
{
    const bool ja = proc.tooltipLang.load() == 1;
    auto u = [] (const char* s) { return juce::String::fromUTF8 (s); };

    const auto bodyFont = ja ? FlatLookAndFeel::jpFont (18.5f).withExtraKerningFactor (0.03f)
                             : FlatLookAndFeel::dinFont (13.5f).withExtraKerningFactor (0.02f);
    const auto titleFont = ja ? FlatLookAndFeel::jpBoldFont (26.0f).withExtraKerningFactor (0.08f)
                              : FlatLookAndFeel::dinFont (22.0f, juce::Font::bold).withExtraKerningFactor (0.16f);
    const float lh = bodyFont.getHeight();
    const juce::Colour light = qvn::theme::kTextCol, accent = qvn::theme::kAccentCol, grey = qvn::theme::kCaptionCol;

    auto block = [] (bool centred)
    {
        juce::AttributedString s;
        s.setJustification (centred ? juce::Justification::centred : juce::Justification::topLeft);
        s.setWordWrap (juce::AttributedString::byWord);
        if (! centred)
            s.setLineSpacing (6.0f);
        return s;
    };

    auto title = block (true);
    qvn::compat::appendText (title, ja ? u ("\xe3\x82\xaf\xe3\x82\xa4\xe3\x83\x83\xe3\x82\xaf\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xbc\xe3\x83\x88\xe3\x82\xac\xe3\x82\xa4\xe3\x83\x89")
                                       : juce::String ("QUICK START GUIDE"),
                             titleFont, light);

    std::array<juce::AttributedString, 5> blocks { block (false), block (false), block (false), block (false), block (false) };
    auto add = [&bodyFont] (juce::AttributedString& s, const juce::String& text, juce::Colour c) { qvn::compat::appendText (s, text, bodyFont, c); };

    if (ja)
    {
        add (blocks[0], u ("Inst \xe3\x83\x88\xe3\x83\xa9\xe3\x83\x83\xe3\x82\xaf\xe3\x81\xab\xe6\x8c\xbf\xe3\x81\x97\xe3\x81\xa6\xe3\x80\x81\xe4\xb8\x8a\xe9\x83\xa8\xe3\x81\xa7\xe3\x80\x8c" "Inst\xe3\x80\x8d\xe3\x82\x92\xe9\x81\xb8\xe6\x8a\x9e\xe3\x80\x82"), grey);
        add (blocks[1], u ("Vocal \xe3\x83\x88\xe3\x83\xa9\xe3\x83\x83\xe3\x82\xaf\xe3\x81\xab\xe6\x8c\xbf\xe3\x81\x97\xe3\x81\xa6\xe3\x80\x81\xe4\xb8\x8a\xe9\x83\xa8\xe3\x81\xa7\xe3\x80\x8c" "Vocal\xe3\x80\x8d\xe3\x82\x92\xe9\x81\xb8\xe6\x8a\x9e\xe3\x80\x82"), grey);
        add (blocks[2], u ("MATCH TO INST \xe3\x82\x92\xe6\x8a\xbc\xe3\x81\x99\xe3\x81\xa8\xe8\xa8\x88\xe6\xb8\xac\xe3\x81\x8c\xe9\x96\x8b\xe5\xa7\x8b\xe3\x81\x95\xe3\x82\x8c\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82"
                           "STOP \xe3\x82\x92\xe6\x8a\xbc\xe3\x81\x99\xe3\x81\xa8\xe8\xa8\x88\xe6\xb8\xac\xe3\x81\x8c\xe7\xb5\x82\xe4\xba\x86\xe3\x81\x97\xe3\x80\x81"
                           "VOCAL \xe3\x81\xae\xe9\x9f\xb3\xe9\x87\x8f\xe3\x81\x8c\xe8\x87\xaa\xe5\x8b\x95\xe8\xaa\xbf\xe6\x95\xb4\xe3\x81\x95\xe3\x82\x8c\xe3\x80\x81"
                           "INST \xe3\x81\xae\xe3\x83\xa9\xe3\x82\xa6\xe3\x83\x89\xe3\x83\x8d\xe3\x82\xb9\xe3\x81\xab\xe4\xb8\x80\xe8\x87\xb4\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82"), grey);
        add (blocks[3], u ("VOCAL\xe3\x81\xae\xe9\x9f\xb3\xe9\x87\x8f\xe3\x81\xab\xe3\x81\xb0\xe3\x82\x89\xe3\x81\xa4\xe3\x81\x8d\xe3\x81\x8c\xe3\x81\x82\xe3\x82\x8b\xe5\xa0\xb4\xe5\x90\x88\xe3\x82\x84\xe3\x80\x81"
                           "INST\xe3\x81\xae\xe3\x83\xa9\xe3\x82\xa6\xe3\x83\x89\xe3\x83\x8d\xe3\x82\xb9\xe3\x81\x8c\xe5\xa4\x89\xe5\x8c\x96\xe3\x81\x99\xe3\x82\x8b\xe5\xa0\xb4\xe5\x90\x88\xe3\x81\xaf\xe3\x80\x81"
                           "\xe3\x82\xbb\xe3\x82\xaf\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\xb3\xe3\x81\x94\xe3\x81\xa8\xe3\x81\xab\xe5\x88\x86\xe3\x81\x91\xe3\x81\xa6\xe6\xb8\xac\xe5\xae\x9a\xe3\x81\x99\xe3\x82\x8b\xe3\x81\xa8\xe3\x80\x81"
                           "\xe3\x82\x88\xe3\x82\x8a\xe5\x8a\xb9\xe6\x9e\x9c\xe7\x9a\x84\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82"), grey);
        add (blocks[4], u ("\xe3\x82\xb5\xe3\x82\xa4\xe3\x83\x89\xe3\x83\x81\xe3\x82\xa7\xe3\x82\xa4\xe3\x83\xb3\xe4\xb8\x8d\xe8\xa6\x81\xe3\x80\x82"
                           "\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x82\xb9\xe3\x81\xaf\xe8\x87\xaa\xe5\x8b\x95\xe3\x81\xa7"
                           "\xe3\x83\xaa\xe3\x83\xb3\xe3\x82\xaf\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82"), grey);
    }
    else
    {
        add (blocks[0], "Insert on your ", grey);
        add (blocks[0], "Inst", light);
        add (blocks[0], " track, then choose ", grey);
        add (blocks[0], "Inst", light);
        add (blocks[0], " above.", grey);
        add (blocks[1], "Insert on your ", grey);
        add (blocks[1], "Vocal", light);
        add (blocks[1], " track, then choose ", grey);
        add (blocks[1], "Vocal", light);
        add (blocks[1], " above.", grey);
        add (blocks[2], "Press ", grey);
        add (blocks[2], "MATCH TO INST", accent);
        add (blocks[2], " to start measuring. Press ", grey);
        add (blocks[2], "STOP", accent);
        add (blocks[2], u (" to finish \xe2\x80\x94 the Vocal volume is auto-adjusted to match the Inst loudness."), grey);
        add (blocks[3], "When the VOCAL volume is inconsistent or the loudness of the INST varies, measuring each section separately can be more effective.", grey);
        add (blocks[4], u ("No sidechain routing needed \xe2\x80\x94 instances link automatically."), grey);
    }

    const float L = (float) juce::jmin (area.getWidth() - 80, 520);
    juce::TextLayout titleLayout;
    qvn::compat::createLayout (titleLayout, title, L);
    std::array<juce::TextLayout, 5> layouts;
    for (size_t i = 0; i < 5; ++i)
        qvn::compat::createLayout (layouts[i], blocks[i], L - 28.0f);

    const float tH = titleLayout.getHeight();
    const float T = tH + 26.0f + layouts[0].getHeight() + 22.0f + layouts[1].getHeight() + 22.0f + layouts[2].getHeight()
                    + 22.0f + layouts[3].getHeight() + 18.0f + layouts[4].getHeight();
    const float top = juce::jmax ((float) area.getY() + 12.0f, (float) (area.getY() + area.getHeight() / 2) - T / 2.0f - 20.0f);
    const float x0 = (float) (area.getX() + area.getWidth() / 2) - L / 2.0f;

    std::array<float, 5> ys;
    ys[0] = top + tH + 26.0f;
    ys[1] = ys[0] + layouts[0].getHeight() + 22.0f;
    ys[2] = ys[1] + layouts[1].getHeight() + 22.0f;
    ys[3] = ys[2] + layouts[2].getHeight() + 22.0f;
    ys[4] = ys[3] + layouts[3].getHeight() + 18.0f;

    titleLayout.draw (g, { x0, top, L, tH });

    const float d = 0.6f * lh;
    g.setColour (juce::Colour (0x4c7cf2c8));
    g.fillRect (x0 + 5.75f, ys[0] + d, 1.5f, ys[2] - ys[0]);

    for (size_t i = 0; i < 5; ++i)
    {
        g.setColour (i < 3 ? qvn::theme::kAccentCol : qvn::theme::kTargetCol);
        g.fillEllipse (x0 + 2.0f, ys[i] + d - 4.5f, 9.0f, 9.0f);
        layouts[i].draw (g, { x0 + 28.0f, ys[i], L - 28.0f, layouts[i].getHeight() });
    }
}

//==============================================================================
void QuorvaneEditor::paintSectionRows (juce::Graphics& g)
{
    const int n = juce::jlimit (0, 16, proc.numSections.load());
    for (int i = 0; i < n; ++i)
    {
        const auto badge = rowBadgeRects[(size_t) i];
        if (badge.getWidth() <= 0 || badge.getHeight() <= 0)
            continue;
        const auto& v = sectionRowViews[(size_t) i];

        const auto hl = rowHighlightRects[(size_t) i];
        if (! hl.isEmpty() && (v.measuring || i == shownSection))
        {
            const auto r = hl.reduced (1).toFloat();
            g.setColour (juce::Colour (v.measuring ? 0x1fe0922fu : 0x1f7cf2c8u));
            g.fillRoundedRectangle (r, 6.0f);
            g.setColour (juce::Colour (v.measuring ? 0xd9e0922fu : 0xd97cf2c8u));
            g.drawRoundedRectangle (r, 6.0f, 1.5f);
        }

        drawSectionBadge (g, badge, i, 15.0f);

        // " dB" after a signed total, its baseline on the total's.
        const auto& total = sectionCells[cellTotal][(size_t) i];
        const auto text = total.getText();
        if (text.startsWith ("+") || text.startsWith ("-"))
        {
            const auto big = FlatLookAndFeel::font (16.0f, juce::Font::bold);
            const auto small = FlatLookAndFeel::font (14.0f, juce::Font::bold);
            const int w = juce::roundToInt (big.getStringWidthFloat (text));
            const int d = juce::roundToInt (big.getDescent() - small.getDescent());
            const auto cell = total.getBounds();
            g.setColour (total.findColour (juce::Label::textColourId));
            g.setFont (small);
            g.drawText (" dB", juce::Rectangle<int> (cell.getX() + w, cell.getY() - d, 24, cell.getHeight()),
                        juce::Justification::bottomLeft, false);
        }

        const auto bar = rowBarRects[(size_t) i];
        if (bar.isEmpty())
            continue;
        g.setColour (juce::Colour (0xff242b26));
        g.fillRect (bar);
        if (! v.hasBoth)
            continue;

        const float x = (float) bar.getX(), y = (float) bar.getY(), w = (float) bar.getWidth(), h = (float) bar.getHeight();
        const float V = v.selfLufs, G = v.gainDb;
        const float a = juce::jlimit (0.0f, 1.0f, (V + 30.0f) / 20.0f);
        const float A = V + G;
        const float b = A < -30.0f ? 0.0f : juce::jlimit (0.0f, 1.0f, (juce::jmin (A, -10.0f) + 30.0f) / 20.0f);
        const float pa = x + w * a, pb = x + w * b;

        g.setColour (juce::Colour (0xf27cf2c8));
        g.fillRect (juce::Rectangle<float> (x, y, juce::jmax (0.0f, pa - x), h));
        if (std::abs (pb - pa) > 0.5f)
        {
            g.setColour (juce::Colour (pb > pa ? 0xebe0922fu : 0xff4a4d51u));
            g.fillRect (juce::Rectangle<float> (juce::jmin (pa, pb), y, std::abs (pb - pa), h));
        }
        g.setColour (juce::Colours::black.withAlpha ((juce::uint8) 0x8c));
        g.fillRect (juce::Rectangle<float> (pb - 1.5f, y - 2.0f, 3.0f, h + 4.0f));
        g.setColour (juce::Colour (0xffe0922f));
        g.fillRect (juce::Rectangle<float> (pb - 0.75f, y - 2.0f, 1.5f, h + 4.0f));
    }
}
