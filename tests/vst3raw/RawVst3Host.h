#pragma once

// A small VST3 host of our own, talking to a plug-in only through the VST3
// interfaces, the way a DAW does: factory, component and controller, their
// connection, bus arrangements, processing with our own parameter queues and
// process context, and the component state through IBStream.

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvntest
{

using Steinberg::int32;
using Steinberg::tresult;

/** Interfaces owned by the host and handed to the plug-in for one call only;
    they are not reference counted. */
template <typename Interface>
class HostOwned : public Interface
{
public:
    explicit HostOwned (const char* iid) : interfaceIid (iid) {}

    tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override
    {
        if (Steinberg::FUnknownPrivate::iidEqual (iid, Steinberg::FUnknown_iid)
            || Steinberg::FUnknownPrivate::iidEqual (iid, interfaceIid))
        {
            *obj = this;
            return Steinberg::kResultOk;
        }

        *obj = nullptr;
        return Steinberg::kNoInterface;
    }

    Steinberg::uint32 PLUGIN_API addRef() override  { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

private:
    const char* interfaceIid;
};

/** One parameter's automation points in a block. */
class ParamQueue final : public HostOwned<Steinberg::Vst::IParamValueQueue>
{
public:
    explicit ParamQueue (Steinberg::Vst::ParamID id);

    /** A point appended in queue order. */
    ParamQueue& point (int32 sampleOffset, double value)
    {
        points.push_back ({ sampleOffset, value });
        return *this;
    }

    /** Makes getPoint fail for this index, as a broken host queue would. */
    ParamQueue& failPoint (int32 index)
    {
        failingIndex = index;
        return *this;
    }

    Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return paramId; }
    int32 PLUGIN_API getPointCount() override                    { return (int32) points.size(); }
    tresult PLUGIN_API getPoint (int32 index, int32& sampleOffset, Steinberg::Vst::ParamValue& value) override;
    tresult PLUGIN_API addPoint (int32 sampleOffset, Steinberg::Vst::ParamValue value, int32& index) override;

private:
    Steinberg::Vst::ParamID paramId;
    std::vector<std::pair<int32, double>> points;
    int32 failingIndex = -1;
};

/** The parameter changes of one block (input or output). */
class ParameterChanges final : public HostOwned<Steinberg::Vst::IParameterChanges>
{
public:
    ParameterChanges();

    ParamQueue& queue (Steinberg::Vst::ParamID id);
    void clear() { queues.clear(); }

    int32 PLUGIN_API getParameterCount() override { return (int32) queues.size(); }
    Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData (int32 index) override;
    Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData (const Steinberg::Vst::ParamID& id, int32& index) override;

private:
    std::vector<std::unique_ptr<ParamQueue>> queues;
};

/** A growable in-memory IBStream. */
class MemoryStream final : public HostOwned<Steinberg::IBStream>
{
public:
    explicit MemoryStream (std::vector<char> initial = {});

    const std::vector<char>& getData() const { return data; }

    tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override;
    tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override;
    tresult PLUGIN_API seek (Steinberg::int64 pos, int32 mode, Steinberg::int64* result) override;
    tresult PLUGIN_API tell (Steinberg::int64* pos) override;

private:
    std::vector<char> data;
    std::size_t position = 0;
};

/** The host application object handed to the plug-in at initialisation. */
class HostApplication final : public HostOwned<Steinberg::Vst::IHostApplication>
{
public:
    HostApplication();

    tresult PLUGIN_API getName (Steinberg::Vst::String128 name) override;
    tresult PLUGIN_API createInstance (Steinberg::TUID cid, Steinberg::TUID iid, void** obj) override;
};

/** A transport state for one block. */
Steinberg::Vst::ProcessContext makeProcessContext (double sampleRate, std::int64_t positionSamples,
                                                   bool playing, bool looping = false);

/** The entry points of a VST3 module, loaded from a bundle or linked in. */
struct Vst3Module
{
    using GetFactory = Steinberg::IPluginFactory* (PLUGIN_API*)();
    using Entry = bool (*) (void*);
    using Exit = bool (*)();

    GetFactory getFactory = nullptr;
    Entry moduleEntry = nullptr;
    Exit moduleExit = nullptr;
    void* handle = nullptr;

    /** Loads the shared object of a Linux VST3 bundle (the library itself or
        the bundle folder); on failure getFactory is null and error says why. */
    static Vst3Module openBundle (const std::string& path, std::string& error);
};

/** One plug-in instance: component and controller, connected. */
class RawVst3Plugin
{
public:
    /** Creates and initialises the instance and, unless told otherwise,
        connects component and controller; isValid() tells whether it worked. */
    explicit RawVst3Plugin (Steinberg::IPluginFactory& factory, bool connectNow = true);
    ~RawVst3Plugin();

    bool isValid() const { return component != nullptr && processor != nullptr && controller != nullptr; }

    /** Connects component and controller through their connection points,
        in both directions, as hosts do. */
    bool connect();
    bool isConnected() const { return connected; }

    /** Stereo in and out, 32-bit float, realtime; activates and starts processing. */
    bool prepare (double sampleRate, int maxBlockSize, int numChannels = 2);
    void stop();

    /** Processes one block in place on the given channels. */
    tresult process (std::vector<std::vector<float>>& channels, int numSamples,
                     Steinberg::Vst::IParameterChanges* inputChanges,
                     const Steinberg::Vst::ProcessContext* context);

    /** Finds a parameter by its title as the controller reports it. */
    std::optional<Steinberg::Vst::ParamID> findParameter (const std::string& title) const;
    std::vector<std::pair<Steinberg::Vst::ParamID, std::string>> listParameters() const;

    bool getState (std::vector<char>& out);
    bool setState (const std::vector<char>& state);

    Steinberg::Vst::IComponent* getComponent() const           { return component; }
    Steinberg::Vst::IAudioProcessor* getProcessor() const      { return processor; }
    Steinberg::Vst::IEditController* getController() const     { return controller; }

    /** Queries an interface from the controller; the caller releases it. */
    template <typename Interface>
    Interface* queryController (const Steinberg::TUID iid) const
    {
        void* obj = nullptr;
        if (controller == nullptr || controller->queryInterface (iid, &obj) != Steinberg::kResultOk)
            return nullptr;
        return static_cast<Interface*> (obj);
    }

private:
    HostApplication host;
    Steinberg::Vst::IComponent* component = nullptr;
    Steinberg::Vst::IAudioProcessor* processor = nullptr;
    Steinberg::Vst::IEditController* controller = nullptr;
    Steinberg::Vst::IConnectionPoint* componentConnection = nullptr;
    Steinberg::Vst::IConnectionPoint* controllerConnection = nullptr;
    bool connected = false, active = false, processing = false;
    int numChannels = 2;
    double sampleRate = 48000.0;
    ParameterChanges outputChanges;
};

} // namespace qvntest
