// Gallery pages of the plug-in window in each of its role views, each with
// real linked processors behind it: the quick start guide of an unassigned
// instance, the INST status and Target LUFS views, the role conflict and the
// Vocal view with and without the section sidebar and with other Vocals.

#include "EditorGallerySupport.h"
#include "Gallery.h"

#include "editor/PluginEditor.h"
#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"

#include <cstdlib>

using namespace qvn::gallery;

namespace
{
struct Scene
{
    int ownRole = 0;
    bool conflict = false;      // a second Inst instance: this one
    bool instView = false;
    int vocalsLinked = 0;       // Vocal instances besides this one
    bool withInst = false;      // an Inst instance to link to
    bool sidebar = true;
    int sectionsDemo = 0;       // 1: sections with results, 2: the same while B is measured
};

/** Sections in the states the list shows: results with and without gain,
    bypass, lock, link groups, an Offset Gain alone. */
void fillSections (QuorvaneProcessor& p, bool measuring)
{
    auto result = [&p] (int i, float self, float partner, float seconds)
    {
        auto& s = p.sections[(size_t) i];
        s.frozen = true;
        s.selfLufs = self;
        s.partnerLufs = partner;
        s.gainDb = partner - self;
        s.seconds = seconds;
    };
    auto offset = [&p] (int i, float v)
    {
        auto* param = p.parameters.getParameter ("offset_" + juce::String::charToString ((juce::juce_wchar) ('A' + i)));
        param->setValueNotifyingHost (param->convertTo0to1 (v));
        p.handleUpdateNowIfNeeded();
    };
    result (0, -14.26f, -12.04f, 12.34f);
    offset (0, 1.0f);
    result (2, -22.0f, -18.5f, 30.0f);
    p.sections[2].bypass = true;
    result (3, -16.0f, -19.2f, 8.0f);
    offset (3, -2.5f);
    p.sections[3].locked = true;
    result (4, -25.0f, -21.0f, 20.0f);
    p.sections[4].linkGroup = 1;
    p.sections[5].linkGroup = 2;
    p.sections[6].linkGroup = 3;
    offset (7, -3.0f);
    result (8, -12.0f, -19.0f, 15.5f);
    p.committedSection = 4;
    if (measuring)
    {
        p.ownSlot->ownSections[1].measuring = true;
        p.ownSlot->ownSections[1].elapsedSeconds = 4.25f;
    }
}

/** The window of one instance with the other instances of its scene. */
class EditorPage : public GalleryPage
{
public:
    EditorPage (const PageContext& ctx, const Scene& scene) : GalleryPage (100)
    {
        auto& settings = AppSettings::get();
        settings.setUpdateChecksEnabled (false);
        settings.setEditorZoom (1.0);
        settings.setSidebarVisible (true);

        auto make = [this, &ctx]
        {
            auto p = std::make_unique<QuorvaneProcessor>();
            p->tooltipLang = ctx.japanese ? 1 : 0;
            processors.push_back (std::move (p));
            return processors.back().get();
        };

        if (scene.withInst || scene.conflict)
            setRole (*make(), 1);

        own = make();
        for (int i = 0; i < scene.vocalsLinked; ++i)
            setRole (*make(), 2);
        setRole (*own, scene.ownRole);
        if (scene.vocalsLinked > 0 && scene.ownRole == 2)
        {
            // This instance is named; the others keep their numbers.
            own->setInstanceName ("Lead Vocal");
        }
        own->instTargetUiOpen = scene.instView;
        if (scene.sectionsDemo > 0)
            fillSections (*own, scene.sectionsDemo == 2);

        editor = std::make_unique<QuorvaneEditor> (*own);
        if (! scene.sidebar)
        {
            // As the sidebar button leaves it: flag and button off.
            editor->sidebarVisible = false;
            editor->sidebarButton->setToggleState (false, juce::dontSendNotification);
            editor->updateRoleVisibility();
        }
        editor->timerCallback();
        addAndMakeVisible (*editor);
        editor->setTopLeftPosition (0, 0);
        setSize (editor->getWidth(), editor->getHeight());

        const auto H = editor->getHeight();
        probe ({ "footer band", Probe::colour, { 3, H - 10, 4, 4 }, qvn::theme::kDeepCol });
        probe ({ "header band", Probe::colour, { 300, 4, 4, 4 }, qvn::theme::kDeepCol });
    }

    ~EditorPage() override
    {
        editor.reset();
        processors.clear();
    }

    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    QuorvaneProcessor* own = nullptr;
    std::unique_ptr<QuorvaneEditor> editor;
};

std::unique_ptr<GalleryPage> page (const PageContext& ctx, Scene scene)
{
    auto p = std::make_unique<EditorPage> (ctx, scene);
    auto& e = *p->editor;

    if (scene.ownRole == 2)
    {
        if (scene.sidebar)
            p->probe ({ "sidebar panel", Probe::colour, { 5, 300, 2, 2 }, qvn::theme::kCardCol });
        p->probe ({ "rail panel", Probe::colour, { e.getWidth() - 4, 300, 2, 2 }, qvn::theme::kCardCol });
        p->probe ({ "gain card", Probe::colour, { e.vocalGainCardRect.getX() + 8, e.vocalGainCardRect.getBottom() - 6, 2, 2 },
                    qvn::theme::kCardCol });
    }
    else if (scene.ownRole == 0)
    {
        p->probe ({ "quick start title", Probe::ink, { e.getWidth() / 2 - 120, 80, 240, 140 }, qvn::theme::kWindowCol });
    }
    return p;
}
} // namespace

QVN_GALLERY_PAGE ("editor_1_unassigned", [] (const PageContext& ctx) { return page (ctx, { 0 }); });
QVN_GALLERY_PAGE ("editor_2_inst_status", [] (const PageContext& ctx) { return page (ctx, { 1, false, false, 3 }); });
QVN_GALLERY_PAGE ("editor_3_inst_target", [] (const PageContext& ctx) { return page (ctx, { 1, false, true, 1 }); });
QVN_GALLERY_PAGE ("editor_4_role_conflict", [] (const PageContext& ctx) { return page (ctx, { 1, true, false, 1 }); });
QVN_GALLERY_PAGE ("editor_5_vocal_sidebar", [] (const PageContext& ctx) { return page (ctx, { 2, false, false, 0, true, true }); });
QVN_GALLERY_PAGE ("editor_6_vocal_no_sidebar", [] (const PageContext& ctx) { return page (ctx, { 2, false, false, 0, true, false }); });
QVN_GALLERY_PAGE ("editor_7_vocal_three_others", [] (const PageContext& ctx) { return page (ctx, { 2, false, false, 3, true, true }); });
QVN_GALLERY_PAGE ("editor_8_vocal_sections", [] (const PageContext& ctx) { return page (ctx, { 2, false, false, 0, true, true, 1 }); });
QVN_GALLERY_PAGE ("editor_9_vocal_section_measuring", [] (const PageContext& ctx) { return page (ctx, { 2, false, false, 0, true, true, 2 }); });
