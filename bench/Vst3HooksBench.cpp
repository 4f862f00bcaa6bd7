// Cost of the VST3 wrapper hooks on the audio thread: announcing a block and
// handing every point of one parameter queue to the processor's sink.

#include "processor/PluginProcessor.h"
#include "processor/Vst3Hooks.h"

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

#include <benchmark/benchmark.h>

#include <vector>

namespace
{
    class Queue final : public Steinberg::Vst::IParamValueQueue
    {
    public:
        explicit Queue (int numPoints)
        {
            for (int i = 0; i < numPoints; ++i)
                points.push_back ({ i * 7, (i % 16) / 15.0 });
        }

        Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID, void** obj) override { *obj = nullptr; return Steinberg::kNoInterface; }
        Steinberg::uint32 PLUGIN_API addRef() override  { return 1; }
        Steinberg::uint32 PLUGIN_API release() override { return 1; }
        Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return 1; }
        Steinberg::int32 PLUGIN_API getPointCount() override { return (Steinberg::int32) points.size(); }

        Steinberg::tresult PLUGIN_API getPoint (Steinberg::int32 index, Steinberg::int32& offset, Steinberg::Vst::ParamValue& value) override
        {
            offset = points[(size_t) index].first;
            value = points[(size_t) index].second;
            return Steinberg::kResultTrue;
        }

        Steinberg::tresult PLUGIN_API addPoint (Steinberg::int32, Steinberg::Vst::ParamValue, Steinberg::int32&) override { return Steinberg::kResultFalse; }

    private:
        std::vector<std::pair<Steinberg::int32, double>> points;
    };

    void forwardQueue (benchmark::State& state, const char* parameterID)
    {
        juce::ScopedJuceInitialiser_GUI juce;
        QuorvaneProcessor processor;
        auto* parameter = processor.parameters.getParameter (parameterID);
        Queue queue ((int) state.range (0));

        for (auto _ : state)
        {
            qvn::vst3BeginAutomationBlock (&processor);
            qvn::vst3ForwardAutomationPoints (&processor, parameter, queue);
            benchmark::ClobberMemory();
        }

        state.SetItemsProcessed (state.iterations() * state.range (0));
    }

    void BM_SectionQueue (benchmark::State& state)   { forwardQueue (state, "section"); }
    void BM_OffsetQueue (benchmark::State& state)    { forwardQueue (state, "offset_F"); }
    void BM_UnrelatedQueue (benchmark::State& state) { forwardQueue (state, "targetLufs"); }
}

BENCHMARK (BM_SectionQueue)->Arg (1)->Arg (8)->Arg (64);
BENCHMARK (BM_OffsetQueue)->Arg (1)->Arg (8)->Arg (64);
BENCHMARK (BM_UnrelatedQueue)->Arg (8);
BENCHMARK_MAIN();
