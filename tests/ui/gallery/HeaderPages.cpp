// Gallery pages of the window's header in each state a user meets: the header
// strips of the unassigned, INST status, role-conflict and Vocal windows (named,
// B active, renaming, without sidebar), and a whole Vocal window whose meter
// bars show levels of three linked Vocal instances, as the refresh sets them.

#include "Gallery.h"

#include "editor/PluginEditor.h"
#include "settings/AppSettings.h"

#include <cstdlib>

using namespace qvn::gallery;

namespace
{
const bool headerGalleryHome = []
{
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_gallery_home");
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    return true;
}();

void assignRole (QuorvaneProcessor& p, int role)
{
    auto* param = p.parameters.getParameter (ids::role);
    param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
    p.handleUpdateNowIfNeeded();
}

constexpr int kStrip = 50;   // the header band and a little of what is below

/** Several windows, each showing its header strip, stacked. */
class HeaderStripsPage : public GalleryPage
{
public:
    explicit HeaderStripsPage (const PageContext& ctx) : GalleryPage (972)
    {
        auto& settings = AppSettings::get();
        settings.setUpdateChecksEnabled (false);
        settings.setEditorZoom (1.0);
        settings.setSidebarVisible (true);

        auto make = [this, &ctx] (int role)
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            p->tooltipLang = ctx.japanese ? 1 : 0;
            assignRole (*p, role);
            processors.push_back (std::move (p));
            return processors.back().get();
        };

        auto* unassigned = make (0);
        auto* inst = make (1);
        auto* vocal = make (2);
        auto* named = make (2);
        auto* renaming = make (2);
        auto* noSidebar = make (2);
        auto* conflict = make (1);
        named->setInstanceName (ctx.text ("Lead Vocal", "\xe3\x83\xaa\xe3\x83\xbc\xe3\x83\x89\xe3\x83\x9c\xe3\x83\xbc\xe3\x82\xab\xe3\x83\xab"));
        named->pushUndoSnapshot();
        named->selectABSlot (1);

        for (auto* p : { unassigned, inst, conflict, vocal, named, renaming, noSidebar })
            editors.push_back (std::make_unique<QuorvaneEditor> (*p));

        for (auto& e : editors)
            e->timerCallback();

        auto& eRename = *editors[5];
        eRename.startInstanceRename();
        eRename.renameEditor.setText (ctx.text ("Harmony 2", "\xe3\x83\x8f\xe3\x83\xa2\xe3\x83\xaa\xe3\x83\xbc"), true);
        eRename.renameEditor.moveCaretToEnd();
        eRename.updateRenameEditorFont();   // the text-change message would do this a moment later

        auto& eNoSidebar = *editors[6];
        eNoSidebar.sidebarButton->setToggleState (false, juce::dontSendNotification);
        eNoSidebar.toggleSidebar();
        eNoSidebar.timerCallback();
        AppSettings::get().setSidebarVisible (true);

        int y = 0;
        for (auto& e : editors)
        {
            holders.push_back (std::make_unique<juce::Component>());
            auto& h = *holders.back();
            h.setBounds (0, y, 972, kStrip);
            h.addAndMakeVisible (*e);
            e->setTopLeftPosition (0, 0);
            addAndMakeVisible (h);
            y += kStrip + 2;
        }
        setSize (972, y);

    }

    ~HeaderStripsPage() override
    {
        holders.clear();
        editors.clear();
        processors.clear();
    }

    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::vector<std::unique_ptr<QuorvaneEditor>> editors;
    std::vector<std::unique_ptr<juce::Component>> holders;
};

/** The footers of five windows: the link status line in each link state. */
class StatusLinesPage : public GalleryPage
{
public:
    explicit StatusLinesPage (const PageContext& ctx) : GalleryPage (972)
    {
        AppSettings::get().setEditorZoom (1.0);
        AppSettings::get().setSidebarVisible (true);
        auto make = [this, &ctx] (int role)
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            p->tooltipLang = ctx.japanese ? 1 : 0;
            assignRole (*p, role);
            processors.push_back (std::move (p));
            return processors.back().get();
        };

        // Opened one by one, as the link state changes: alone, Inst with one
        // Vocal, the Vocal, a second Inst (conflict), Inst with three Vocals.
        auto* alone = make (0);
        auto* inst = make (1);
        auto* vocal = make (2);
        auto* second = make (1);
        for (auto* p : { alone, inst, vocal, second })
            editors.push_back (std::make_unique<QuorvaneEditor> (*p));
        for (auto& e : editors)
            e->timerCallback();
        oneVocalText = editors[1]->statusLabel.getText();
        make (2);
        make (2);
        editors.push_back (std::make_unique<QuorvaneEditor> (*inst));
        editors.back()->timerCallback();
        editors[1]->statusLabel.setText (oneVocalText, juce::dontSendNotification);

        int y = 0;
        for (auto& e : editors)
        {
            holders.push_back (std::make_unique<juce::Component>());
            auto& h = *holders.back();
            h.setBounds (0, y, 972, 40);
            h.addAndMakeVisible (*e);
            e->setTopLeftPosition (0, 40 - e->getHeight());
            addAndMakeVisible (h);
            const auto label = e->statusLabel.getBounds().translated (0, y + 40 - e->getHeight());
            probe ({ "status " + juce::String ((int) holders.size()), Probe::ink, label, qvn::theme::kDeepCol });
            y += 42;
        }
        setSize (972, y);
    }

    ~StatusLinesPage() override
    {
        holders.clear();
        editors.clear();
        processors.clear();
    }

    juce::String oneVocalText;
    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::vector<std::unique_ptr<QuorvaneEditor>> editors;
    std::vector<std::unique_ptr<juce::Component>> holders;
};

/** A Vocal window with three other Vocal instances and levels on every bar. */
class LiveMetersPage : public GalleryPage
{
public:
    explicit LiveMetersPage (const PageContext& ctx) : GalleryPage (1092)
    {
        AppSettings::get().setEditorZoom (1.0);
        AppSettings::get().setSidebarVisible (true);
        for (int role : { 1, 2, 2, 2, 2 })
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            p->tooltipLang = ctx.japanese ? 1 : 0;
            assignRole (*p, role);
            processors.push_back (std::move (p));
        }
        auto& own = *processors[1];
        own.setInstanceName ("Lead");
        own.meterDispMode = 0;
        own.meterVocalShortTerm = -24.0f;
        own.meterVocalShortTermPostGain = -19.5f;
        own.meterVocalIntegratedPostGain = -21.0f;
        own.vocalPeakLeftDb = -9.0f;
        own.vocalPeakRightDb = -10.5f;
        own.instPeakLeftDb = -6.0f;
        own.instPeakRightDb = -7.0f;
        own.meterInstIntegrated = -16.0f;
        own.meterTargetLevel = -18.0f;
        processors[0]->ownSlot->liveShortTerm = -15.0f;
        const float levels[] = { -28.0f, -22.0f, -33.0f };
        for (int i = 0; i < 3; ++i)
        {
            auto& s = *processors[(size_t) i + 2]->ownSlot;
            s.liveShortTerm = levels[i] - 2.0f;
            s.liveShortTermPostGain = levels[i];
            s.liveIntegratedPostGain = levels[i] - 1.0f;
            s.peakLeftDb = levels[i] + 12.0f;
            s.peakRightDb = levels[i] + 11.0f;
            s.hasResult = i == 1;
        }

        editor = std::make_unique<QuorvaneEditor> (own);
        editor->timerCallback();
        editor->timerCallback();
        addAndMakeVisible (*editor);
        editor->setTopLeftPosition (0, 0);
        setSize (editor->getWidth(), editor->getHeight());
    }

    ~LiveMetersPage() override
    {
        editor.reset();
        processors.clear();
    }

    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::unique_ptr<QuorvaneEditor> editor;
};
} // namespace

QVN_GALLERY_PAGE ("header_1_strips", [] (const PageContext& ctx) { return std::make_unique<HeaderStripsPage> (ctx); });
QVN_GALLERY_PAGE ("header_3_status_lines", [] (const PageContext& ctx) { return std::make_unique<StatusLinesPage> (ctx); });
QVN_GALLERY_PAGE ("header_2_live_meters", [] (const PageContext& ctx) { return std::make_unique<LiveMetersPage> (ctx); });
