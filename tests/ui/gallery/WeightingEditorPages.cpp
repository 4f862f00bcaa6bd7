// Gallery pages of the custom weighting panel open over a Vocal instance's
// window, with an Inst and a second Vocal linked: the K-weighting layout with
// band 1 (a High Pass) selected, a bypassed band selected (every control
// dimmed), a Flat Tilt band with an edited weighting, and the confirmation
// card that Apply shows while results exist.

#include "Gallery.h"

#include "editor/PluginEditor.h"
#include "processor/LinkRegistry.h"
#include "settings/AppSettings.h"
#include "weighting_editor/CustomWeightedRmsEditor.h"

#include <cstdlib>

using namespace qvn::gallery;

namespace
{
const bool galleryHome = []
{
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("qvn_gallery_home");
    home.createDirectory();
    ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
    return true;
}();

void setRole (QuorvaneProcessor& p, int role)
{
    auto* param = p.parameters.getParameter (ids::role);
    param->setValueNotifyingHost (param->convertTo0to1 ((float) role));
    p.handleUpdateNowIfNeeded();
}

enum class Scene { standardK, bypassedBand, flatTilt, confirmCard };

class PanelPage : public GalleryPage
{
public:
    PanelPage (const PageContext& ctx, Scene scene) : GalleryPage (100)
    {
        auto& settings = AppSettings::get();
        settings.setUpdateChecksEnabled (false);
        settings.setEditorZoom (1.0);
        settings.setSidebarVisible (true);

        for (int role : { 1, 2, 2 })
        {
            processors.push_back (std::make_unique<QuorvaneProcessor>());
            processors.back()->tooltipLang = ctx.japanese ? 1 : 0;
            setRole (*processors.back(), role);
        }
        auto& own = *processors[1];
        own.applyMeasurementSettings (2, 3.0f);
        LinkRegistry::get().broadcastMeasurementSettings (&own, 2, 3.0f);

        editor = std::make_unique<QuorvaneEditor> (own);
        editor->timerCallback();
        addAndMakeVisible (*editor);
        editor->setTopLeftPosition (0, 0);
        setSize (editor->getWidth(), editor->getHeight());

        auto& panel = CustomWeightedRmsEditor::openOver (*editor, editor->customWeightingPanel, own);

        if (scene == Scene::bypassedBand)
        {
            panel.selectBand (3);
        }
        else if (scene == Scene::flatTilt || scene == Scene::confirmCard)
        {
            panel.selectBand (2);
            panel.workingCopy.slots[2].enabled = true;
            panel.workingCopy.slots[2].gainDb = -4.5;
            panel.workingCopy.slots[1].enabled = true;
            panel.workingCopy.slots[1].gainDb = 3.0;
            panel.workingCopy.slots[5].enabled = true;
            panel.workingCopy.slots[5].slopeDbPerOct = 24.0;
            panel.workingCopyChanged (true);
        }

        if (scene == Scene::confirmCard)
        {
            const auto l = own.tooltipLang.load();
            auto text = [l] (const char* en, const char* ja) { return l == 1 ? juce::String::fromUTF8 (ja) : juce::String (en); };
            panel.confirm (text ("Apply Custom RMS settings?", "Custom RMS設定を適用しますか？"),
                           text ("Existing Custom RMS results will be cleared.", "既存のCustom RMS測定結果を消去します。") + "\n"
                               + text ("A measurement in progress will stop.", "進行中の測定を停止します。") + "\n"
                               + text ("This can be undone.", "この操作は元に戻せます。"),
                           text ("Apply", "適用"), [] {});
        }

        // The panel's frame and the selected band row in its band colour
        // (under the confirmation card both are dimmed by its backdrop).
        if (scene != Scene::confirmCard)
        {
            probe ({ "panel frame", Probe::colour, { panel.frameBounds.getX() + 8, panel.frameBounds.getY() + 60, 2, 2 },
                     qvn::cwrms::kPanelCol });
            auto& row = *panel.bandRows[(size_t) panel.selectedBand];
            const auto fill = scene == Scene::bypassedBand
                                ? FlatUI::bandColour (panel.selectedBand).withMultipliedBrightness (0.4f).withMultipliedSaturation (0.7f)
                                : FlatUI::bandColour (panel.selectedBand);
            probe ({ "selected band row", Probe::colour, { row.getRight() - 8, row.getY() + 4, 2, 2 }, fill });
        }
    }

    ~PanelPage() override
    {
        editor.reset();
        processors.clear();
    }

    std::vector<std::unique_ptr<QuorvaneProcessor>> processors;
    std::unique_ptr<QuorvaneEditor> editor;
};
} // namespace

QVN_GALLERY_PAGE ("weighting_1_standard_k", [] (const PageContext& ctx) { return std::make_unique<PanelPage> (ctx, Scene::standardK); });
QVN_GALLERY_PAGE ("weighting_2_bypassed_band", [] (const PageContext& ctx) { return std::make_unique<PanelPage> (ctx, Scene::bypassedBand); });
QVN_GALLERY_PAGE ("weighting_3_flat_tilt", [] (const PageContext& ctx) { return std::make_unique<PanelPage> (ctx, Scene::flatTilt); });
QVN_GALLERY_PAGE ("weighting_4_confirm", [] (const PageContext& ctx) { return std::make_unique<PanelPage> (ctx, Scene::confirmCard); });
