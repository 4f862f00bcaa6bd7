#include <gtest/gtest.h>

#include "settings/OffsetTarget.h"
#include "tests/ui2/Ui2TestSupport.h"
#include "ui/ConfirmDialog.h"
#include "ui/OffsetTargetEditPopup.h"
#include "ui/PopupHelpers.h"
#include "ui/RangeEditPopup.h"

#include <optional>
#include <vector>

using namespace qvn::ui2test;

namespace
{
struct Popups : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI juceInit;
};

RangeEditPopup::Strings japaneseRangeStrings()
{
    RangeEditPopup::Strings s;
    s.title = juce::String::fromUTF8 ("LUFS表示範囲");
    s.minLabel = juce::String::fromUTF8 ("最小");
    s.maxLabel = juce::String::fromUTF8 ("最大");
    s.resetLabel = juce::String::fromUTF8 ("リセット");
    s.cancelLabel = juce::String::fromUTF8 ("キャンセル");
    return s;
}

// A window-like parent holding the popup inside a call-out box, as the editor
// shows it. The box is made directly rather than launched modally: without a
// screen nothing can take the keyboard focus that a modal launch grabs. The
// popup's own part of closing is the same either way: it asks its enclosing box
// to dismiss, and the box then hides (and, when launched, deletes itself).
struct Host
{
    juce::Component parent;
    std::unique_ptr<juce::Component> content;
    std::unique_ptr<juce::CallOutBox> box;

    Host() { parent.setSize (800, 600); }
    ~Host()
    {
        box.reset();
        content.reset();
    }

    template <typename Popup>
    Popup* launch (std::unique_ptr<Popup> popup)
    {
        auto* raw = popup.get();
        content = std::move (popup);
        box = std::make_unique<juce::CallOutBox> (*content, juce::Rectangle<int> { 300, 200, 60, 20 }, &parent);
        return raw;
    }

    bool closed() const { return box == nullptr || ! box->isVisible(); }
};

std::unique_ptr<RangeEditPopup> makeRangePopup (float iMin, float iMax, float dMin, float dMax)
{
    auto p = std::make_unique<RangeEditPopup> (iMin, iMax, dMin, dMax, RangeEditPopup::Strings {});
    p->setSize (232, p->titlePx() + 134);
    return p;
}

std::unique_ptr<OffsetTargetEditPopup> makeTargetPopup (const juce::String& name, float lo, float hi, bool existing)
{
    OffsetTargetEditPopup::Strings s;
    s.title = existing ? "Edit Target" : "New Target";
    auto p = std::make_unique<OffsetTargetEditPopup> (name, lo, hi, existing, s);
    p->setSize (272, p->titlePx() + 166);
    return p;
}
} // namespace

//==============================================================================
TEST (PopupNumbers, FieldFormat)
{
    struct Case
    {
        float value;
        const char* text;
    } cases[] = {
        { -36.0f, "-36" }, { 0.0f, "0" },     { -35.97f, "-36" }, { -23.5f, "-23.5" }, { -6.0f, "-6" },
        { 2.04f, "2" },    { -0.02f, "0" },   { 12.96f, "13" },   { 0.5f, "0.5" },     { -2.5f, "-2.5" },
        { 3.2f, "3.2" },   { -12.3f, "-12.3" },
    };
    for (auto& c : cases)
        EXPECT_EQ (qvn::popup::formatNumber (c.value), juce::String (c.text)) << c.value;

    // A value that cannot be shown as a number leaves the field empty, so OK
    // then falls back to the opening value instead of committing "nan".
    EXPECT_TRUE (qvn::popup::formatNumber (std::numeric_limits<float>::quiet_NaN()).isEmpty());
    EXPECT_TRUE (qvn::popup::formatNumber (std::numeric_limits<float>::infinity()).isEmpty());
}

TEST (PopupNumbers, ParseLufsField)
{
    struct Case
    {
        const char* text;
        std::optional<float> value;
    } cases[] = {
        { "", std::nullopt },       { "   ", std::nullopt },   { "-", std::nullopt },    { ".", std::nullopt },
        { "-.", std::nullopt },     { "+", std::nullopt },     { "--", std::nullopt },   { "+.", std::nullopt },
        { "+3", 3.0f },             { "-35.97", -35.97f },     { " -18 ", -18.0f },      { "3-", 3.0f },
        { "1.2.3", 1.2f },          { ".5", 0.5f },            { "-.5", -0.5f },         { "5.", 5.0f },
        { "-0", 0.0f },             { "abc", std::nullopt },   { "12a", std::nullopt },  { "1e5", std::nullopt },
        { "-+3", std::nullopt },    { "-36", -36.0f },
    };
    for (auto& c : cases)
    {
        const auto got = RangeEditPopup::parseLufsField (c.text);
        ASSERT_EQ (got.has_value(), c.value.has_value()) << "'" << c.text << "'";
        if (c.value)
            EXPECT_FLOAT_EQ (*got, *c.value) << "'" << c.text << "'";
    }

    // A number too large for a float is no value rather than infinity.
    EXPECT_FALSE (RangeEditPopup::parseLufsField (juce::String::repeatedString ("9", 400)).has_value());
}

//==============================================================================
TEST_F (Popups, RangePopupLayoutAt232)
{
    auto p = makeRangePopup (-36.0f, 0.0f, -36.0f, 0.0f);
    const int tp = p->titlePx();
    EXPECT_EQ (tp, 12);
    EXPECT_EQ (p->getHeight(), 146);

    EXPECT_EQ (p->minField.getBounds(), juce::Rectangle<int> (83, 12 + tp + 12, 65, 26));
    EXPECT_EQ (p->maxField.getBounds(), juce::Rectangle<int> (83, 12 + tp + 12 + 32, 65, 26));
    EXPECT_EQ (p->resetButton.getBounds(), juce::Rectangle<int> (12, 12 + tp + 12 + 70, 65, 28));
    EXPECT_EQ (p->cancelButton.getBounds(), juce::Rectangle<int> (83, 12 + tp + 12 + 70, 65, 28));
    EXPECT_EQ (p->okButton.getBounds(), juce::Rectangle<int> (154, 12 + tp + 12 + 70, 66, 28));
    EXPECT_EQ (p->okButton.getBottom() + 12, p->getHeight());

    // Opening values shown in the field format.
    EXPECT_EQ (p->minField.getText(), "-36");
    EXPECT_EQ (p->maxField.getText(), "0");
    EXPECT_EQ (makeRangePopup (-35.97f, -23.5f, -36.0f, 0.0f)->minField.getText(), "-36");
    EXPECT_EQ (makeRangePopup (-35.97f, -23.5f, -36.0f, 0.0f)->maxField.getText(), "-23.5");
}

TEST_F (Popups, OffsetTargetPopupLayoutAt272)
{
    auto p = makeTargetPopup ("Pop", -2.0f, 2.0f, true);
    const int tp = p->titlePx();
    const int nameY = 12 + tp + 12;
    EXPECT_EQ (p->getHeight(), tp + 166);
    EXPECT_EQ (p->nameField.getBounds(), juce::Rectangle<int> (96, nameY, 164, 26));
    EXPECT_EQ (p->minField.getBounds(), juce::Rectangle<int> (96, nameY + 32, 78, 26));
    EXPECT_EQ (p->maxField.getBounds(), juce::Rectangle<int> (96, nameY + 64, 78, 26));
    EXPECT_EQ (p->deleteButton.getBounds(), juce::Rectangle<int> (12, nameY + 102, 78, 28));
    EXPECT_EQ (p->cancelButton.getBounds(), juce::Rectangle<int> (96, nameY + 102, 78, 28));
    EXPECT_EQ (p->okButton.getBounds(), juce::Rectangle<int> (180, nameY + 102, 80, 28));
    EXPECT_EQ (p->okButton.getBottom() + 12, p->getHeight());
    EXPECT_EQ (p->minField.getText(), "-2");
    EXPECT_EQ (p->maxField.getText(), "2");
}

TEST_F (Popups, JapaneseTitleMakesPopupTallerByFontHeightDifference)
{
    RangeEditPopup en (-36.0f, 0.0f, -36.0f, 0.0f, RangeEditPopup::Strings {});
    RangeEditPopup jp (-36.0f, 0.0f, -36.0f, 0.0f, japaneseRangeStrings());
    const int latin = (int) std::ceil (FlatLookAndFeel::dinFont (12.0f, juce::Font::plain).getHeight());
    const int japanese = (int) std::ceil (FlatLookAndFeel::jpFont (14.0f, juce::Font::plain).getHeight());
    EXPECT_EQ (en.titlePx(), latin);
    EXPECT_EQ (jp.titlePx(), japanese);
    EXPECT_GT (jp.titlePx(), en.titlePx());
}

TEST_F (Popups, TooSmallPopupSqueezesTheLowestRows)
{
    auto p = makeRangePopup (-36.0f, 0.0f, -36.0f, 0.0f);
    p->setSize (232, 90); // 12 + 12 + 12 + 26 + 6 + 22 left for the max row
    EXPECT_EQ (p->minField.getHeight(), 26);
    EXPECT_EQ (p->maxField.getHeight(), 22);
    EXPECT_EQ (p->okButton.getHeight(), 0);

    p->setSize (0, 0);
    EXPECT_EQ (p->minField.getWidth(), 0);
    juce::Image img (juce::Image::ARGB, 1, 1, true);
    juce::Graphics g (img);
    p->paint (g); // nothing to see, nothing to break
}

//==============================================================================
TEST_F (Popups, RangePopupTypedValuesCommitThroughOk)
{
    Host host;
    auto popup = host.launch (makeRangePopup (-36.0f, 0.0f, -36.0f, 0.0f));
    std::vector<std::pair<float, float>> commits;
    popup->onCommit = [&] (float lo, float hi) { commits.push_back ({ lo, hi }); };

    replaceText (popup->minField, "-40");
    type (popup->minField, "abc"); // letters are refused by the field
    EXPECT_EQ (popup->minField.getText(), "-40");
    replaceText (popup->maxField, "-3.5");

    popup->okButton.triggerClick();
    pump();
    ASSERT_EQ (commits.size(), 1u);
    EXPECT_FLOAT_EQ (commits[0].first, -40.0f);
    EXPECT_FLOAT_EQ (commits[0].second, -3.5f);
    EXPECT_TRUE (host.closed()) << "OK closes the call-out box";
}

TEST_F (Popups, RangePopupUnreadableFieldFallsBackToOpeningValue)
{
    Host host;
    auto popup = host.launch (makeRangePopup (-30.0f, -6.0f, -30.0f, -6.0f));
    std::optional<std::pair<float, float>> commit;
    popup->onCommit = [&] (float lo, float hi) { commit = std::make_pair (lo, hi); };

    replaceText (popup->minField, "--");
    EXPECT_EQ (popup->minField.getText(), "--");
    replaceText (popup->maxField, "-40"); // larger than... smaller than min: committed as typed
    popup->okButton.triggerClick();
    pump();
    ASSERT_TRUE (commit.has_value());
    EXPECT_FLOAT_EQ (commit->first, -30.0f);
    EXPECT_FLOAT_EQ (commit->second, -40.0f);
}

TEST_F (Popups, RangePopupResetThenCancelOrOk)
{
    {
        Host host;
        auto popup = host.launch (makeRangePopup (-24.0f, -3.0f, -36.0f, 0.0f));
        int commits = 0;
        popup->onCommit = [&] (float, float) { ++commits; };
        popup->resetButton.triggerClick();
        pump();
        EXPECT_EQ (popup->minField.getText(), "-36");
        EXPECT_EQ (popup->maxField.getText(), "0");
        EXPECT_EQ (commits, 0);
        popup->cancelButton.triggerClick();
        pump();
        EXPECT_EQ (commits, 0);
        EXPECT_TRUE (host.closed());
    }
    {
        Host host;
        auto popup = host.launch (makeRangePopup (-20.0f, -10.0f, -30.0f, -6.0f));
        std::optional<std::pair<float, float>> commit;
        popup->onCommit = [&] (float lo, float hi) { commit = std::make_pair (lo, hi); };
        popup->resetButton.triggerClick();
        pump();
        popup->okButton.triggerClick();
        pump();
        ASSERT_TRUE (commit.has_value());
        EXPECT_FLOAT_EQ (commit->first, -30.0f);
        EXPECT_FLOAT_EQ (commit->second, -6.0f);
    }
}

TEST_F (Popups, RangePopupReturnInAFieldCommitsNothing)
{
    Host host;
    auto popup = host.launch (makeRangePopup (-36.0f, 0.0f, -36.0f, 0.0f));
    int commits = 0;
    popup->onCommit = [&] (float, float) { ++commits; };
    replaceText (popup->minField, "-20");
    pressKey (popup->minField, juce::KeyPress::returnKey);
    pump();
    EXPECT_EQ (commits, 0);
    ASSERT_FALSE (host.closed());
    popup->cancelButton.triggerClick();
    pump();
    EXPECT_TRUE (host.closed());
}

TEST_F (Popups, RangePopupWithoutCallbackOrBoxIsHarmless)
{
    RangeEditPopup p (-36.0f, 0.0f, -36.0f, 0.0f, RangeEditPopup::Strings {});
    p.setSize (232, p.titlePx() + 134);
    p.okButton.triggerClick();
    p.cancelButton.triggerClick();
    pump();
    SUCCEED();
}

//==============================================================================
namespace
{
// The validator the editor gives the popup: the shared name rule against the
// other targets.
std::vector<qvn::OffsetTarget> existingTargets()
{
    return { { "Pop", -2.0f, 2.0f }, { "Ballad", -4.0f, 0.0f } };
}
} // namespace

TEST_F (Popups, OffsetTargetRefusedNameKeepsPopupOpenAndMarksField)
{
    Host host;
    auto popup = host.launch (makeTargetPopup ({}, -2.0f, 2.0f, false));
    const auto targets = existingTargets();
    std::vector<juce::String> accepted;
    popup->onCommit = [&] (const juce::String& name, float, float)
    {
        if (! qvn::isValidOffsetTargetName (name, targets, -1))
            return false;
        accepted.push_back (name);
        return true;
    };

    EXPECT_FALSE (popup->deleteButton.isVisible()) << "a new target has no Delete button";

    type (popup->nameField, "pop"); // equals "Pop" ignoring case
    popup->okButton.triggerClick();
    pump();
    ASSERT_FALSE (host.closed()) << "refused: stays open";
    EXPECT_TRUE (accepted.empty());
    EXPECT_EQ (popup->nameField.findColour (juce::TextEditor::outlineColourId), juce::Colour (0xffcc4444));
    EXPECT_EQ (popup->nameField.findColour (juce::TextEditor::focusedOutlineColourId), juce::Colour (0xffcc4444));
    EXPECT_EQ (popup->nameField.getText(), "pop") << "typed values stay";

    // Other names the rule refuses keep it open too.
    for (auto* refusedName : { "None", "  ", "BALLAD" })
    {
        replaceText (popup->nameField, refusedName);
        popup->okButton.triggerClick();
        pump();
        ASSERT_FALSE (host.closed()) << refusedName;
    }
    replaceText (popup->nameField, "pop");
    popup->okButton.triggerClick();
    pump();

    type (popup->nameField, "s"); // one character restores the normal outline
    pump();
    EXPECT_EQ (popup->nameField.findColour (juce::TextEditor::outlineColourId), juce::Colour (0xff242b26));
    EXPECT_EQ (popup->nameField.findColour (juce::TextEditor::focusedOutlineColourId), juce::Colour (0xff7cf2c8));

    popup->okButton.triggerClick();
    pump();
    ASSERT_EQ (accepted.size(), 1u);
    EXPECT_EQ (accepted[0], "pops");
    EXPECT_TRUE (host.closed());
}

TEST_F (Popups, OffsetTargetEditingKeepsItsOwnNameWhateverTheCase)
{
    Host host;
    auto popup = host.launch (makeTargetPopup ("Pop", -2.0f, 2.0f, true));
    const auto targets = existingTargets();
    juce::String stored;
    popup->onCommit = [&] (const juce::String& name, float, float)
    {
        if (! qvn::isValidOffsetTargetName (name, targets, 0)) // the edited entry is skipped
            return false;
        stored = name;
        return true;
    };
    replaceText (popup->nameField, "POP");
    pressKey (popup->nameField, juce::KeyPress::returnKey);
    pump();
    EXPECT_EQ (stored, "POP");
    EXPECT_TRUE (host.closed());
}

TEST_F (Popups, OffsetTargetReturnInNumberFieldCommitsTypedValues)
{
    Host host;
    auto popup = host.launch (makeTargetPopup ({}, -2.0f, 2.0f, false));
    struct Commit
    {
        juce::String name;
        float lo, hi;
    };
    std::vector<Commit> commits;
    popup->onCommit = [&] (const juce::String& n, float lo, float hi)
    {
        commits.push_back ({ n, lo, hi });
        return true;
    };

    type (popup->nameField, "Rap");
    replaceText (popup->maxField, "+3");
    replaceText (popup->minField, "+"); // no value: the opening -2 is kept
    pressKey (popup->minField, juce::KeyPress::returnKey);
    pump();
    ASSERT_EQ (commits.size(), 1u);
    EXPECT_EQ (commits[0].name, "Rap");
    EXPECT_FLOAT_EQ (commits[0].lo, -2.0f);
    EXPECT_FLOAT_EQ (commits[0].hi, 3.0f);
    EXPECT_TRUE (host.closed());
}

TEST_F (Popups, OffsetTargetEscapeClosesWithoutCommitting)
{
    Host host;
    auto popup = host.launch (makeTargetPopup ("Pop", -2.0f, 2.0f, true));
    int commits = 0, deletes = 0;
    popup->onCommit = [&] (const juce::String&, float, float) { ++commits; return true; };
    popup->onDelete = [&] { ++deletes; };
    replaceText (popup->minField, "-5");
    pressKey (popup->minField, juce::KeyPress::escapeKey);
    pump();
    EXPECT_EQ (commits, 0);
    EXPECT_EQ (deletes, 0);
    EXPECT_TRUE (host.closed());
}

TEST_F (Popups, OffsetTargetDeleteClosesThenCallsOnDelete)
{
    Host host;
    auto popup = host.launch (makeTargetPopup ("Pop", -2.0f, 2.0f, true));
    ASSERT_TRUE (popup->deleteButton.isVisible());
    int deletes = 0, commits = 0;
    popup->onCommit = [&] (const juce::String&, float, float) { ++commits; return true; };
    popup->onDelete = [&] { ++deletes; };
    popup->deleteButton.triggerClick();
    pump();
    EXPECT_EQ (deletes, 1);
    EXPECT_EQ (commits, 0);
    EXPECT_TRUE (host.closed());
}

TEST_F (Popups, OffsetTargetNameFieldTakesAtMost24Characters)
{
    auto p = makeTargetPopup ({}, -2.0f, 2.0f, false);
    type (p->nameField, juce::String::repeatedString ("x", 30));
    EXPECT_EQ (p->nameField.getText().length(), 24);
    replaceText (p->minField, "12345678");
    EXPECT_EQ (p->minField.getText(), "123456") << "six characters at most";
}

//==============================================================================
TEST_F (Popups, ConfirmDialogCardSizes)
{
    struct Case
    {
        int panelWidth, cardWidth, cancelWidth, confirmWidth;
    } cases[] = { { 240, 240, 90, 90 }, { 1000, 420, 180, 180 }, { 281, 241, 90, 91 } };

    for (auto& c : cases)
    {
        ConfirmDialog d;
        d.setSize (c.panelWidth, 400);
        EXPECT_EQ (d.getCardBounds().getWidth(), c.cardWidth) << c.panelWidth;
        EXPECT_EQ (d.getCardBounds().getHeight(), 172);
        EXPECT_EQ (d.getCardBounds().getX(), (c.panelWidth - c.cardWidth) / 2);
        EXPECT_EQ (d.getCardBounds().getY(), (400 - 172) / 2);
        EXPECT_EQ (d.cancelButton.getWidth(), c.cancelWidth) << c.panelWidth;
        EXPECT_EQ (d.confirmButton.getWidth(), c.confirmWidth) << c.panelWidth;
        EXPECT_EQ (d.cancelButton.getY(), d.getCardBounds().getY() + 124);
        EXPECT_EQ (d.titleLabel.getBounds(), juce::Rectangle<int> (d.getCardBounds().getX() + 24, d.getCardBounds().getY() + 22, c.cardWidth - 48, 22));
    }
}

namespace
{
struct ShownDialog
{
    juce::Component owner;
    ConfirmDialog dialog;
    int confirms = 0;

    ShownDialog()
    {
        owner.setSize (500, 400);
        owner.addChildComponent (dialog);
        show();
    }

    void show()
    {
        dialog.titleLabel.setText ("Overwrite preset?", juce::dontSendNotification);
        dialog.confirmButton.setButtonText ("Overwrite");
        dialog.onConfirm = [this] { ++confirms; };
        dialog.setBounds (owner.getLocalBounds());
        dialog.setVisible (true);
        dialog.toFront (true);
    }
};
} // namespace

TEST_F (Popups, ConfirmDialogKeys)
{
    ShownDialog s;
    EXPECT_FALSE (s.dialog.keyPressed (juce::KeyPress (juce::KeyPress::returnKey, juce::ModifierKeys::commandModifier, 0)));
    pump();
    EXPECT_EQ (s.confirms, 0);
    EXPECT_TRUE (s.dialog.isVisible());

    EXPECT_FALSE (s.dialog.keyPressed (juce::KeyPress ('x')));

    EXPECT_TRUE (s.dialog.keyPressed (juce::KeyPress (juce::KeyPress::returnKey)));
    EXPECT_EQ (s.confirms, 0) << "Return clicks Confirm asynchronously";
    pump();
    EXPECT_EQ (s.confirms, 1);
    EXPECT_FALSE (s.dialog.isVisible());

    s.show();
    EXPECT_TRUE (s.dialog.keyPressed (juce::KeyPress (juce::KeyPress::escapeKey)));
    EXPECT_FALSE (s.dialog.isVisible());
    EXPECT_FALSE ((bool) s.dialog.onConfirm) << "Escape drops the pending callback";
    s.dialog.confirmButton.triggerClick(); // a stale Confirm cannot run the old callback
    pump();
    EXPECT_EQ (s.confirms, 1);
}

TEST_F (Popups, ConfirmDialogClicks)
{
    ShownDialog s;
    Mouse m (s.dialog);
    const auto card = s.dialog.getCardBounds();
    m.down ((float) card.getX() + 5.0f, (float) card.getY() + 100.0f); // card's empty area
    m.up ((float) card.getX() + 5.0f, (float) card.getY() + 100.0f);
    EXPECT_TRUE (s.dialog.isVisible());
    EXPECT_TRUE ((bool) s.dialog.onConfirm);

    m.down (5.0f, 5.0f); // dimmed area
    EXPECT_FALSE (s.dialog.isVisible());
    EXPECT_FALSE ((bool) s.dialog.onConfirm);

    s.show();
    s.dialog.cancelButton.triggerClick();
    pump();
    EXPECT_FALSE (s.dialog.isVisible());
    EXPECT_EQ (s.confirms, 0);
}

TEST_F (Popups, ConfirmingRunsCallbackAfterHidingSoItCanAskAgain)
{
    ShownDialog s;
    int second = 0;
    s.dialog.onConfirm = [&]
    {
        EXPECT_FALSE (s.dialog.isVisible());
        s.dialog.onConfirm = [&] { ++second; };
        s.dialog.setVisible (true);
    };
    s.dialog.confirmButton.triggerClick();
    pump();
    EXPECT_TRUE (s.dialog.isVisible()) << "the second confirmation is shown fresh";
    EXPECT_TRUE ((bool) s.dialog.onConfirm);
    s.dialog.confirmButton.triggerClick();
    pump();
    EXPECT_EQ (second, 1);
    EXPECT_FALSE (s.dialog.isVisible());
}
