#include "processor/Vst3ControllerExtensions.h"

#include "processor/SectionAutomationSink.h"

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/vst/ivstautomationstate.h>

#include <atomic>

namespace qvn
{

class Vst3ControllerExtensions::AutomationState final : public Steinberg::Vst::IAutomationState
{
public:
    void attach (SectionAutomationSink* newSink) noexcept   { sink.store (newSink); }
    void detach() noexcept                                  { sink.store (nullptr); }

    Steinberg::tresult PLUGIN_API setAutomationState (Steinberg::int32 state) override
    {
        if (auto* s = sink.load())
            s->setHostAutomationState ((int) state);

        return Steinberg::kResultOk;
    }

    Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override
    {
        if (obj == nullptr)
            return Steinberg::kInvalidArgument;

        if (Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::FUnknown_iid)
            || Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::Vst::IAutomationState_iid))
        {
            addRef();
            *obj = static_cast<Steinberg::Vst::IAutomationState*> (this);
            return Steinberg::kResultOk;
        }

        *obj = nullptr;
        return Steinberg::kNoInterface;
    }

    Steinberg::uint32 PLUGIN_API addRef() override
    {
        return (Steinberg::uint32) ++refCount;
    }

    Steinberg::uint32 PLUGIN_API release() override
    {
        const auto remaining = --refCount;

        if (remaining == 0)
            delete this;

        return (Steinberg::uint32) remaining;
    }

private:
    std::atomic<int> refCount { 1 };
    std::atomic<SectionAutomationSink*> sink { nullptr };
};

Vst3ControllerExtensions::Vst3ControllerExtensions()
    : automationState (new AutomationState())
{
}

Vst3ControllerExtensions::~Vst3ControllerExtensions()
{
    automationState->detach();
    automationState->release();
}

int32_t Vst3ControllerExtensions::queryIEditController (const Steinberg::TUID iid, void** obj)
{
    if (obj == nullptr)
        return Steinberg::kInvalidArgument;

    if (Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::Vst::IAutomationState_iid))
    {
        // The sink is found lazily: while this base is being constructed the
        // processor that implements it does not exist yet.
        if (auto* sink = sinkFor (dynamic_cast<juce::AudioProcessor*> (this)))
        {
            automationState->attach (sink);

            // The wrapper passes the pointer on to the host without adding a
            // reference, so the reference the host will release is added here.
            automationState->addRef();
            *obj = static_cast<Steinberg::Vst::IAutomationState*> (automationState);
            return Steinberg::kResultOk;
        }
    }

    *obj = nullptr;
    return Steinberg::kNoInterface;
}

} // namespace qvn
