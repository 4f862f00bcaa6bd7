#include "RawVst3Host.h"

#include <pluginterfaces/vst/vstspeaker.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace qvntest
{

using namespace Steinberg;

//==============================================================================
ParamQueue::ParamQueue (Vst::ParamID id) : HostOwned (Vst::IParamValueQueue_iid), paramId (id) {}

tresult PLUGIN_API ParamQueue::getPoint (int32 index, int32& sampleOffset, Vst::ParamValue& value)
{
    if (index < 0 || index >= (int32) points.size() || index == failingIndex)
        return kResultFalse;

    sampleOffset = points[(size_t) index].first;
    value = points[(size_t) index].second;
    return kResultTrue;
}

tresult PLUGIN_API ParamQueue::addPoint (int32 sampleOffset, Vst::ParamValue value, int32& index)
{
    index = (int32) points.size();
    points.push_back ({ sampleOffset, value });
    return kResultTrue;
}

//==============================================================================
ParameterChanges::ParameterChanges() : HostOwned (Vst::IParameterChanges_iid) {}

ParamQueue& ParameterChanges::queue (Vst::ParamID id)
{
    for (auto& q : queues)
        if (q->getParameterId() == id)
            return *q;

    queues.push_back (std::make_unique<ParamQueue> (id));
    return *queues.back();
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData (int32 index)
{
    return index >= 0 && index < (int32) queues.size() ? queues[(size_t) index].get() : nullptr;
}

Vst::IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData (const Vst::ParamID& id, int32& index)
{
    for (size_t i = 0; i < queues.size(); ++i)
    {
        if (queues[i]->getParameterId() == id)
        {
            index = (int32) i;
            return queues[i].get();
        }
    }

    index = (int32) queues.size();
    queues.push_back (std::make_unique<ParamQueue> (id));
    return queues.back().get();
}

//==============================================================================
MemoryStream::MemoryStream (std::vector<char> initial) : HostOwned (IBStream_iid), data (std::move (initial)) {}

tresult PLUGIN_API MemoryStream::read (void* buffer, int32 numBytes, int32* numBytesRead)
{
    const auto available = data.size() - std::min (position, data.size());
    const auto n = std::min ((size_t) std::max (numBytes, 0), available);

    if (n > 0)
        std::memcpy (buffer, data.data() + position, n);

    position += n;

    if (numBytesRead != nullptr)
        *numBytesRead = (int32) n;

    return kResultOk;
}

tresult PLUGIN_API MemoryStream::write (void* buffer, int32 numBytes, int32* numBytesWritten)
{
    if (numBytes < 0)
        return kInvalidArgument;

    if (position + (size_t) numBytes > data.size())
        data.resize (position + (size_t) numBytes);

    if (numBytes > 0)
        std::memcpy (data.data() + position, buffer, (size_t) numBytes);

    position += (size_t) numBytes;

    if (numBytesWritten != nullptr)
        *numBytesWritten = numBytes;

    return kResultOk;
}

tresult PLUGIN_API MemoryStream::seek (int64 pos, int32 mode, int64* result)
{
    int64 base = 0;

    if (mode == IBStream::kIBSeekCur)       base = (int64) position;
    else if (mode == IBStream::kIBSeekEnd)  base = (int64) data.size();
    else if (mode != IBStream::kIBSeekSet)  return kInvalidArgument;

    const auto target = base + pos;

    if (target < 0)
        return kResultFalse;

    position = (size_t) target;

    if (result != nullptr)
        *result = target;

    return kResultOk;
}

tresult PLUGIN_API MemoryStream::tell (int64* pos)
{
    if (pos == nullptr)
        return kInvalidArgument;

    *pos = (int64) position;
    return kResultOk;
}

//==============================================================================
HostApplication::HostApplication() : HostOwned (Vst::IHostApplication_iid) {}

tresult PLUGIN_API HostApplication::getName (Vst::String128 name)
{
    const char* text = "QUORVANE raw test host";
    size_t i = 0;

    for (; text[i] != 0 && i < 127; ++i)
        name[i] = (Vst::TChar) text[i];

    name[i] = 0;
    return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance (TUID, TUID, void** obj)
{
    *obj = nullptr;
    return kNoInterface;
}

//==============================================================================
Vst::ProcessContext makeProcessContext (double sampleRate, std::int64_t positionSamples, bool playing, bool looping)
{
    Vst::ProcessContext context {};
    context.sampleRate = sampleRate;
    context.projectTimeSamples = positionSamples;
    context.state = (playing ? Vst::ProcessContext::kPlaying : 0u)
                  | (looping ? Vst::ProcessContext::kCycleActive : 0u);
    return context;
}

//==============================================================================
Vst3Module Vst3Module::openBundle (const std::string& path, std::string& error)
{
    Vst3Module module;
    std::string library = path;

    struct stat info {};
    if (stat (path.c_str(), &info) == 0 && S_ISDIR (info.st_mode))
    {
        // <name>.vst3/Contents/x86_64-linux/<name>.so
        auto name = path;
        while (! name.empty() && name.back() == '/')
            name.pop_back();
        name = name.substr (name.find_last_of ('/') + 1);
        name = name.substr (0, name.rfind (".vst3"));
        library = path + "/Contents/x86_64-linux/" + name + ".so";
    }

    module.handle = dlopen (library.c_str(), RTLD_NOW | RTLD_LOCAL);

    if (module.handle == nullptr)
    {
        const char* message = dlerror();
        error = message != nullptr ? message : "dlopen failed";
        return module;
    }

    module.getFactory = reinterpret_cast<GetFactory> (dlsym (module.handle, "GetPluginFactory"));
    module.moduleEntry = reinterpret_cast<Entry> (dlsym (module.handle, "ModuleEntry"));
    module.moduleExit = reinterpret_cast<Exit> (dlsym (module.handle, "ModuleExit"));

    if (module.getFactory == nullptr)
        error = "GetPluginFactory is not exported by " + library;

    return module;
}

//==============================================================================
namespace
{
    template <typename Interface>
    Interface* queryAs (FUnknown* object, const TUID iid)
    {
        void* obj = nullptr;
        if (object == nullptr || object->queryInterface (iid, &obj) != kResultOk)
            return nullptr;
        return static_cast<Interface*> (obj);
    }

    template <typename Interface>
    void releaseAndClear (Interface*& object)
    {
        if (object != nullptr)
            object->release();
        object = nullptr;
    }

    std::string toAscii (const Vst::String128 text)
    {
        std::string result;
        for (int i = 0; i < 128 && text[i] != 0; ++i)
            result += text[i] < 128 ? (char) text[i] : '?';
        return result;
    }
}

RawVst3Plugin::RawVst3Plugin (IPluginFactory& factory, bool connectNow)
{
    // The component class is the one in the audio module category.
    for (int32 i = 0; i < factory.countClasses() && component == nullptr; ++i)
    {
        PClassInfo info {};
        if (factory.getClassInfo (i, &info) != kResultOk || std::strcmp (info.category, kVstAudioEffectClass) != 0)
            continue;

        void* obj = nullptr;
        if (factory.createInstance (info.cid, Vst::IComponent_iid, &obj) == kResultOk)
            component = static_cast<Vst::IComponent*> (obj);
    }

    if (component == nullptr || component->initialize (&host) != kResultOk)
        return;

    processor = queryAs<Vst::IAudioProcessor> (component, Vst::IAudioProcessor_iid);

    TUID controllerCid {};
    if (component->getControllerClassId (controllerCid) == kResultOk)
    {
        void* obj = nullptr;
        if (factory.createInstance (controllerCid, Vst::IEditController_iid, &obj) == kResultOk)
            controller = static_cast<Vst::IEditController*> (obj);
    }

    if (controller == nullptr || controller->initialize (&host) != kResultOk)
    {
        releaseAndClear (controller);
        return;
    }

    if (connectNow)
        connect();

    // Like a host opening a new instance: the controller learns the
    // component's state.
    MemoryStream stream;
    if (component->getState (&stream) == kResultOk)
    {
        stream.seek (0, IBStream::kIBSeekSet, nullptr);
        controller->setComponentState (&stream);
    }
}

RawVst3Plugin::~RawVst3Plugin()
{
    stop();

    if (connected)
    {
        componentConnection->disconnect (controllerConnection);
        controllerConnection->disconnect (componentConnection);
    }

    releaseAndClear (componentConnection);
    releaseAndClear (controllerConnection);

    if (controller != nullptr)
        controller->terminate();

    if (component != nullptr)
        component->terminate();

    releaseAndClear (controller);
    releaseAndClear (processor);
    releaseAndClear (component);
}

bool RawVst3Plugin::connect()
{
    if (connected || component == nullptr || controller == nullptr)
        return connected;

    componentConnection = queryAs<Vst::IConnectionPoint> (component, Vst::IConnectionPoint_iid);
    controllerConnection = queryAs<Vst::IConnectionPoint> (controller, Vst::IConnectionPoint_iid);

    if (componentConnection == nullptr || controllerConnection == nullptr)
        return false;

    connected = componentConnection->connect (controllerConnection) == kResultOk
             && controllerConnection->connect (componentConnection) == kResultOk;
    return connected;
}

bool RawVst3Plugin::prepare (double rate, int maxBlockSize, int channels)
{
    if (! isValid())
        return false;

    sampleRate = rate;
    numChannels = channels;

    Vst::SpeakerArrangement arrangement = channels == 1 ? Vst::SpeakerArr::kMono : Vst::SpeakerArr::kStereo;
    Vst::SpeakerArrangement in[] = { arrangement };
    Vst::SpeakerArrangement out[] = { arrangement };

    if (processor->setBusArrangements (in, 1, out, 1) != kResultOk)
        return false;

    component->activateBus (Vst::kAudio, Vst::kInput, 0, true);
    component->activateBus (Vst::kAudio, Vst::kOutput, 0, true);

    Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, maxBlockSize, rate };

    if (processor->setupProcessing (setup) != kResultOk)
        return false;

    active = component->setActive (true) == kResultOk;
    processing = active && processor->setProcessing (true) == kResultOk;
    return processing;
}

void RawVst3Plugin::stop()
{
    if (processing)
        processor->setProcessing (false);

    if (active)
        component->setActive (false);

    processing = active = false;
}

tresult RawVst3Plugin::process (std::vector<std::vector<float>>& channels, int numSamples,
                                Vst::IParameterChanges* inputChanges,
                                const Vst::ProcessContext* context)
{
    std::vector<float*> pointers;
    for (auto& channel : channels)
        pointers.push_back (channel.data());

    Vst::AudioBusBuffers input {}, output {};
    input.numChannels = output.numChannels = (int32) pointers.size();
    input.channelBuffers32 = output.channelBuffers32 = pointers.data();

    outputChanges.clear();

    Vst::ProcessData data;
    data.processMode = Vst::kRealtime;
    data.symbolicSampleSize = Vst::kSample32;
    data.numSamples = numSamples;
    data.numInputs = 1;
    data.numOutputs = 1;
    data.inputs = &input;
    data.outputs = &output;
    data.inputParameterChanges = inputChanges;
    data.outputParameterChanges = &outputChanges;
    data.processContext = const_cast<Vst::ProcessContext*> (context);

    return processor->process (data);
}

std::vector<std::pair<Vst::ParamID, std::string>> RawVst3Plugin::listParameters() const
{
    std::vector<std::pair<Vst::ParamID, std::string>> result;

    if (controller == nullptr)
        return result;

    for (int32 i = 0; i < controller->getParameterCount(); ++i)
    {
        Vst::ParameterInfo info {};
        if (controller->getParameterInfo (i, info) == kResultOk)
            result.push_back ({ info.id, toAscii (info.title) });
    }

    return result;
}

std::optional<Vst::ParamID> RawVst3Plugin::findParameter (const std::string& title) const
{
    for (auto& [id, name] : listParameters())
        if (name == title)
            return id;

    return std::nullopt;
}

bool RawVst3Plugin::getState (std::vector<char>& out)
{
    MemoryStream stream;
    if (component == nullptr || component->getState (&stream) != kResultOk)
        return false;

    out = stream.getData();
    return true;
}

bool RawVst3Plugin::setState (const std::vector<char>& state)
{
    MemoryStream stream (state);
    if (component == nullptr || component->setState (&stream) != kResultOk)
        return false;

    MemoryStream forController (state);
    controller->setComponentState (&forController);
    return true;
}

} // namespace qvntest
