#include "weighting_editor/CustomWeightedRmsEditor.h"

#include "ui/JuceCompat.h"

#include "processor/PluginProcessor.h"

namespace
{
int textWidth (const juce::String& s)
{
    return juce::roundToInt (qvn::compat::stringWidth (FlatLookAndFeel::dinFont (12.0f), s));
}

juce::Rectangle<int> take (juce::Rectangle<int>& r, int n, int side)
{
    switch (side)
    {
        case 0:  return r.removeFromTop (juce::jlimit (0, r.getHeight(), n));
        case 1:  return r.removeFromBottom (juce::jlimit (0, r.getHeight(), n));
        case 2:  return r.removeFromLeft (juce::jlimit (0, r.getWidth(), n));
        default: return r.removeFromRight (juce::jlimit (0, r.getWidth(), n));
    }
}
enum { top, bottom, left, right };
} // namespace

void CustomWeightedRmsEditor::resized()
{
    cards.clear();
    const int W = getWidth(), H = getHeight();
    const bool ja = isJapanese();

    const int m = juce::jmax (12, W / 22);
    frameBounds = { m, 12, juce::jmax (0, W - 2 * m), juce::jmax (0, H - 24) };

    const int iw = juce::jmax (0, W - 2 * m - 36);
    juce::Rectangle<int> inner (m + 18, 12 + 14, iw, juce::jmax (0, H - 24 - 28));

    headerBounds = take (inner, 40, top);
    {
        auto h = headerBounds;
        applyButton.setBounds (take (h, 116, right).withSizeKeepingCentre (116, 28));
        take (h, 8, right);
        cancelButton.setBounds (take (h, 100, right).withSizeKeepingCentre (100, 28));
    }

    take (inner, 10, top);
    auto presetRow = take (inner, 62, top);
    take (inner, 10, top);

    const int s = textWidth (standardKChip.getButtonText()) + textWidth (flatChip.getButtonText()) + 82;
    const int fw = juce::jmin (iw, s < 180 ? 180 : juce::jmin (s, 280, iw / 2));
    auto factoryCard = take (presetRow, fw, left);
    take (presetRow, 14, left);
    auto userCard = presetRow;
    cards.push_back ({ factoryCard, ja ? juce::String::fromUTF8 ("ファクトリー") : juce::String ("FACTORY"), {} });
    cards.push_back ({ userCard, ja ? juce::String::fromUTF8 ("ユーザープリセット") : juce::String ("USER PRESETS"),
                       juce::String ((int) userPresets.size()) + (ja ? juce::String::fromUTF8 (" 件") : juce::String (" saved")) });

    auto chipLine = [] (juce::Rectangle<int> card)
    {
        card = card.reduced (12, 8);
        take (card, 19, top);
        return take (card, 26, top);
    };

    {
        auto line = chipLine (factoryCard);
        standardKChip.setBounds (take (line, textWidth (standardKChip.getButtonText()) + 26, left));
        take (line, 6, left);
        flatChip.setBounds (take (line, textWidth (flatChip.getButtonText()) + 26, left));
    }
    {
        auto line = chipLine (userCard);
        const int w = line.getWidth();
        const int vw = juce::jmin (w, userChipStrip.getWidth(), juce::jmax (0, w - 256));
        userChipViewport.setBounds (take (line, vw, left));
        if (juce::jmin (userChipStrip.getWidth(), w - 256) > 0)
            take (line, 8, left);
        nameField.setBounds (take (line, juce::jlimit (0, 300, line.getWidth() - 136), left));
        take (line, 8, left);
        saveButton.setBounds (take (line, 58, left));
        take (line, 6, left);
        deleteButton.setBounds (take (line, 64, left));
    }

    bandCardBounds = take (inner, 120, bottom);
    take (inner, 10, bottom);
    auto rowsLine = take (inner, 30, bottom);
    take (inner, 10, bottom);
    responseGraph.setBounds (inner.getX(), inner.getY(), iw, juce::jmax (120, inner.getHeight()));

    const int r = (iw - 30) / 6;
    for (size_t i = 0; i < bandRows.size(); ++i)
    {
        if (i + 1 < bandRows.size())
        {
            bandRows[i]->setBounds (take (rowsLine, r, left));
            take (rowsLine, 6, left);
        }
        else
            bandRows[i]->setBounds (rowsLine);
    }

    {
        auto card = bandCardBounds.reduced (12, 10);
        const int n = juce::jmax (0, W - 2 * m - 60);
        const int c = n / 3 < 170 ? 170 : juce::jmin (n / 3, 250);
        const int b = (c - 12) / 3;
        const int ch = bandCardBounds.getHeight();
        const int t = juce::jmin ((juce::jmax (ch - 20, 21) - 27) / 2, 28);
        const int y0 = bandCardBounds.getY() + 31 + ((juce::jmax (ch - 20, 21) - 21) - (2 * t + 6)) / 2;
        for (int i = 0; i < 6; ++i)
        {
            const int col = i % 3;
            const int x = card.getX() + col * (b + 6);
            const int w = col < 2 ? b : juce::jmin (b, c - 2 * (b + 6));
            typeButtons[(size_t) i].setBounds (x, y0 + (i / 3) * (t + 6), juce::jmax (0, w), t);
        }

        auto knobs = card;
        take (knobs, c, left);
        take (knobs, 18, left);
        const int k = knobs.getWidth();
        const int kw = (k - 30) / 4;
        for (auto* cell : { &freqCell, &gainCell, &qCell, &slopeCell })
        {
            cell->setBounds (take (knobs, kw, left).withHeight (juce::jmax (0, ch - 20)));
            take (knobs, 10, left);
        }
    }

    if (confirmDialog.isVisible())
        confirmDialog.setBounds (0, 0, W, H);
}

void CustomWeightedRmsEditor::paint (juce::Graphics& g)
{
    using namespace qvn::cwrms;
    g.fillAll (juce::Colours::black.withAlpha ((juce::uint8) 0xbd));

    const auto frame = frameBounds.toFloat();
    juce::DropShadow (juce::Colours::black.withAlpha ((juce::uint8) 0x8c), 34, { 0, 10 }).drawForRectangle (g, frameBounds);
    g.setColour (kPanelCol);
    g.fillRoundedRectangle (frame, 10.0f);
    g.setColour (kDividerCol.withAlpha ((juce::uint8) 0xe6));
    g.drawRoundedRectangle (frame.reduced (0.5f), 10.0f, 1.0f);

    g.setColour (kTextCol);
    g.setFont (FlatLookAndFeel::dinFont (19.0f, juce::Font::bold).withExtraKerningFactor (0.06f));
    qvn::compat::drawText (g, "CUSTOM WEIGHTED RMS", headerBounds, juce::Justification::centredLeft, true);
    g.setColour (kDividerCol);
    g.fillRect (headerBounds.getX(), headerBounds.getBottom() - 1, headerBounds.getWidth(), 1);

    auto titleFont = [this] (float h)
    {
        return isJapanese() ? FlatLookAndFeel::jpBoldFont (h - 1.0f) : FlatLookAndFeel::dinFont (h, juce::Font::bold);
    };

    for (const auto& card : cards)
    {
        g.setColour (kCardCol);
        g.fillRoundedRectangle (card.bounds.toFloat(), 6.0f);
        g.setColour (kDividerCol);
        g.drawRoundedRectangle (card.bounds.toFloat().reduced (0.5f), 6.0f, 1.0f);

        const juce::Rectangle<int> titleLine (card.bounds.getX() + 12, card.bounds.getY() + 8,
                                              juce::jmax (0, card.bounds.getWidth() - 24), 15);
        g.setColour (kText2Col);
        g.setFont (titleFont (11.0f));
        qvn::compat::drawText (g, card.title, titleLine, juce::Justification::centredLeft, true);
        if (card.subtitle.isNotEmpty())
        {
            g.setColour (kText3Col);
            g.setFont (isJapanese() ? FlatLookAndFeel::jpFont (11.0f) : FlatLookAndFeel::dinFont (11.0f));
            qvn::compat::drawText (g, card.subtitle, titleLine, juce::Justification::centredRight, true);
        }
    }

    g.setColour (kCardCol);
    g.fillRoundedRectangle (bandCardBounds.toFloat(), 7.0f);
    g.setColour (kDividerCol);
    g.drawRoundedRectangle (bandCardBounds.toFloat().reduced (0.5f), 7.0f, 1.0f);

    const auto innerCard = bandCardBounds.reduced (12, 10);
    g.setColour (FlatUI::bandColour (selectedBand));
    g.setFont (titleFont (11.0f));
    const auto bandTitle = (isJapanese() ? juce::String::fromUTF8 ("バンド ") : juce::String ("BAND "))
                           + juce::String (selectedBand + 1) + juce::String::fromUTF8 (" \xc2\xb7 ")
                           + (isJapanese() ? juce::String::fromUTF8 ("フィルタータイプ") : juce::String ("FILTER TYPE"));
    qvn::compat::drawText (g, bandTitle, innerCard.withHeight (15), juce::Justification::centredLeft, true);

    const int x = typeButtons[2].getRight() + 9;
    g.setColour (kDividerCol);
    g.fillRect (x, innerCard.getY(), 1, innerCard.getHeight());
}
