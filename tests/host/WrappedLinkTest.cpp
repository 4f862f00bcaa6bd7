// Several instances created through the plug-in's VST3 entry point in one
// process, the way a host creates them, with their roles set by the host: the
// instances find each other through the link registry, on the wrapper's own
// message thread, and relink when one goes.

#include "RawVst3Host.h"

#include "processor/LinkRegistry.h"
#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

extern "C" Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory();

using namespace qvntest;

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;

std::vector<QuorvaneProcessor*> registered()
{
    auto& registry = LinkRegistry::get();
    const std::lock_guard<std::mutex> lock (registry.mutex);
    return registry.instances;
}

struct Instance
{
    std::unique_ptr<RawVst3Plugin> plugin;
    QuorvaneProcessor* processor = nullptr;
    Steinberg::Vst::ParamID roleId = 0;
};

/** Waits (up to two seconds) until the condition holds; the relinking runs
    on the wrapper's message thread. */
template <typename Condition>
bool eventually (Condition condition)
{
    for (int i = 0; i < 400; ++i)
    {
        if (condition())
            return true;

        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }

    return condition();
}

std::shared_ptr<LinkSlot> slotOf (const Instance& i) { return i.processor->ownSlot; }

std::vector<std::shared_ptr<LinkSlot>> partnersOf (const Instance& i)
{
    const std::lock_guard<std::mutex> lock (i.processor->partnerMutex);
    return i.processor->partnerSlots;
}

class WrappedLinkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        factory = GetPluginFactory();
        ASSERT_NE (factory, nullptr);
    }

    void TearDown() override
    {
        instances.clear();
        if (factory != nullptr)
            factory->release();
    }

    Instance& add()
    {
        const auto before = registered();
        Instance i;
        i.plugin = std::make_unique<RawVst3Plugin> (*factory);
        EXPECT_TRUE (i.plugin->isValid());

        for (auto* p : registered())
            if (std::find (before.begin(), before.end(), p) == before.end())
                i.processor = p;

        EXPECT_NE (i.processor, nullptr);
        EXPECT_TRUE (i.plugin->prepare (sampleRate, blockSize));
        i.roleId = i.plugin->findParameter ("Role").value_or (0);
        instances.push_back (std::move (i));
        return instances.back();
    }

    /** A role edit in the host's own interface: controller first, then the
        change reaches the processor with the next block, as hosts send it. */
    void setRoleFromHost (Instance& i, int role)
    {
        const auto value = role / 2.0;
        i.plugin->getController()->setParamNormalized (i.roleId, value);
        ParameterChanges changes;
        changes.queue (i.roleId).point (0, value);
        process (i, &changes);
    }

    void process (Instance& i, ParameterChanges* changes = nullptr)
    {
        const auto context = makeProcessContext (sampleRate, 0, true);
        EXPECT_EQ (i.plugin->process (audio, blockSize, changes, &context), Steinberg::kResultOk);
    }

    Steinberg::IPluginFactory* factory = nullptr;
    std::vector<Instance> instances;
    std::vector<std::vector<float>> audio { std::vector<float> (blockSize), std::vector<float> (blockSize) };
};
} // namespace

TEST_F (WrappedLinkTest, InstancesOfOneProcessLinkByTheirHostRoles)
{
    instances.reserve (8);
    auto& inst = add();
    auto& v1 = add();
    auto& extra = add();
    auto& v2 = add();
    auto& idle = add();

    setRoleFromHost (inst, 1);
    setRoleFromHost (v1, 2);
    setRoleFromHost (v2, 2);
    ASSERT_TRUE (eventually ([&] { return partnersOf (inst).size() == 2; }));
    setRoleFromHost (extra, 1);
    ASSERT_TRUE (eventually ([&] { return extra.processor->roleConflict.load(); }));

    EXPECT_EQ (partnersOf (inst), (std::vector<std::shared_ptr<LinkSlot>> { slotOf (v1), slotOf (v2) }));
    EXPECT_EQ (partnersOf (v1), (std::vector<std::shared_ptr<LinkSlot>> { slotOf (inst) }));
    EXPECT_EQ (partnersOf (v2), (std::vector<std::shared_ptr<LinkSlot>> { slotOf (inst) }));
    EXPECT_TRUE (partnersOf (extra).empty());
    EXPECT_TRUE (partnersOf (idle).empty());
    EXPECT_EQ (v1.processor->ownSlot->vocalNumber.load(), 1);
    EXPECT_EQ (v2.processor->ownSlot->vocalNumber.load(), 2);

    // The processors publish their roles from their own blocks.
    for (auto* i : { &inst, &v1, &v2 })
        process (*i);
    EXPECT_EQ (inst.processor->ownSlot->role.load(), 1);
    EXPECT_EQ (v2.processor->ownSlot->role.load(), 2);

    // The host closes the Inst: the extra Inst takes over and the Vocals follow.
    const auto extraSlot = slotOf (extra);
    instances.erase (instances.begin());
    EXPECT_FALSE (instances[1].processor->roleConflict.load());
    EXPECT_EQ (partnersOf (instances[0]), (std::vector<std::shared_ptr<LinkSlot>> { extraSlot }));
    EXPECT_EQ (partnersOf (instances[1]).size(), 2u);
}

TEST_F (WrappedLinkTest, HostThreadsCreateAndCloseInstancesConcurrently)
{
#if defined(__SANITIZE_THREAD__)
    // The framework's entry point counts its initialisations in a plain int,
    // which the race detector reports when instances are made on several
    // threads; the processor's own concurrent lifecycle has a test of its own.
    GTEST_SKIP();
#endif
    instances.reserve (4);
    auto& inst = add();
    auto& vocal = add();
    setRoleFromHost (inst, 1);
    setRoleFromHost (vocal, 2);
    ASSERT_TRUE (eventually ([&] { return partnersOf (inst).size() == 1; }));

    std::vector<std::thread> threads;

    for (int t = 0; t < 3; ++t)
    {
        threads.emplace_back ([this, t]
        {
            for (int round = 0; round < 4; ++round)
            {
                RawVst3Plugin plugin (*factory);
                ASSERT_TRUE (plugin.isValid());
                ASSERT_TRUE (plugin.prepare (sampleRate, blockSize));
                const auto role = plugin.findParameter ("Role");
                ASSERT_TRUE (role.has_value());
                plugin.getController()->setParamNormalized (*role, ((t + round) % 3) / 2.0);
            }
        });
    }

    for (auto& th : threads)
        th.join();

    ASSERT_TRUE (eventually ([&] { return registered().size() == 2; }));
    ASSERT_TRUE (eventually ([&] { return partnersOf (inst).size() == 1 && partnersOf (vocal).size() == 1; }));
    EXPECT_EQ (partnersOf (inst).front(), slotOf (vocal));
    EXPECT_EQ (partnersOf (vocal).front(), slotOf (inst));
    EXPECT_EQ (LinkRegistry::get().inst, inst.processor);
}
