#include "processor/LinkRegistry.h"

#include "processor/PluginProcessor.h"

#include <algorithm>
#include <cmath>

namespace
{
bool isActive (const QuorvaneProcessor* p)
{
    return p->getRole() != 0 && ! p->roleConflict.load();
}

int clampedMode (const QuorvaneProcessor* p)
{
    return juce::jlimit (0, 2, p->measMode.load());
}

CustomWeightedRmsSettings settingsOf (QuorvaneProcessor* p)
{
    const std::lock_guard<std::mutex> lock (p->settingsMutex);
    return p->customSettings;
}
} // namespace

LinkRegistry& LinkRegistry::get()
{
    static LinkRegistry registry;
    return registry;
}

void LinkRegistry::rebuildLinks()
{
    // Roles are read once, so every step of one rebuild sees the same roles even
    // while automation moves them; a role change meanwhile asks for a new rebuild.
    std::vector<int> roles;
    roles.reserve (instances.size());

    for (auto* p : instances)
        roles.push_back (p->getRole());

    const auto roleOf = [&] (const QuorvaneProcessor* p)
    {
        for (size_t i = 0; i < instances.size(); ++i)
            if (instances[i] == p)
                return roles[i];

        return 0;
    };

    const auto activeNow = [&] (const QuorvaneProcessor* p) { return roleOf (p) != 0 && ! p->roleConflict.load(); };

    // The Inst already linked keeps its role, so a second Inst instance never
    // takes the partners away from a running pairing.
    QuorvaneProcessor* newInst = (inst != nullptr && roleOf (inst) == 1) ? inst : nullptr;
    std::vector<QuorvaneProcessor*> newVocals;
    std::vector<QuorvaneProcessor*> conflicts;

    for (size_t i = 0; i < instances.size(); ++i)
    {
        auto* p = instances[i];
        const auto role = roles[i];

        if (role == 2)
            newVocals.push_back (p);
        else if (role == 1 && p != newInst)
        {
            if (newInst == nullptr)
                newInst = p;
            else
                conflicts.push_back (p);
        }
    }

    if (newInst != inst || newVocals != vocals)
        for (auto* p : instances)
            p->cancelActiveMeasurementsForSettingsChange();

    inst = newInst;
    vocals = newVocals;

    for (auto* p : instances)
        p->roleConflict.store (false);

    std::vector<std::shared_ptr<LinkSlot>> vocalSlots;
    vocalSlots.reserve (vocals.size());

    for (auto* v : vocals)
        vocalSlots.push_back (v->ownSlot);

    for (auto* p : instances)
        p->ownSlot->vocalNumber.store (0);

    for (size_t k = 0; k < vocals.size(); ++k)
        vocals[k]->ownSlot->vocalNumber.store ((int) k + 1);

    for (auto* v : vocals)
        v->setPartnerSlots (inst != nullptr ? std::vector<std::shared_ptr<LinkSlot>> { inst->ownSlot }
                                            : std::vector<std::shared_ptr<LinkSlot>> {});

    if (inst != nullptr)
        inst->setPartnerSlots (vocalSlots);

    for (auto* c : conflicts)
    {
        c->setPartnerSlots ({});
        c->roleConflict.store (true);
    }

    for (auto* p : instances)
        if (p != inst && roleOf (p) != 2 && ! p->roleConflict.load())
            p->setPartnerSlots ({});

    for (auto* p : instances)
    {
        const bool isVocal = roleOf (p) == 2;
        const std::lock_guard<std::mutex> lock (p->partnerMutex);
        p->otherVocalSlots.clear();

        if (isVocal)
            for (auto& s : vocalSlots)
                if (s != p->ownSlot)
                    p->otherVocalSlots.push_back (s);

        p->otherVocalGeneration.fetch_add (1);
    }

    // Keep the measurement settings equal on every active instance.
    auto* reference = inst != nullptr ? inst : (vocals.empty() ? nullptr : vocals.front());

    if (reference == nullptr)
        return;

    const auto refSettings = settingsOf (reference);
    const auto refRmsTime = reference->rmsTimeSec.load();
    const auto refGeneration = reference->customSettingsGeneration.load();
    const auto refMode = clampedMode (reference);

    bool anyDiffers = false;

    for (auto* p : instances)
    {
        if (p == reference || ! activeNow (p))
            continue;

        if (clampedMode (p) != refMode
            || std::abs (p->rmsTimeSec.load() - refRmsTime) > 0.001f
            || ! (settingsOf (p) == refSettings)
            || p->customSettingsGeneration.load() != refGeneration)
        {
            anyDiffers = true;
            break;
        }
    }

    if (anyDiffers)
        for (auto* p : instances)
            if (activeNow (p))
                p->cancelActiveMeasurementsForSettingsChange();

    for (auto* p : instances)
    {
        if (p == reference || ! activeNow (p))
            continue;

        p->applyMeasurementSettings (refMode, refRmsTime);
        p->applyCustomWeightedRmsSettings (refSettings, refRmsTime, refGeneration);
    }
}

void LinkRegistry::broadcastMeasurementSettings (QuorvaneProcessor* sender, int mode, float rmsTimeSec)
{
    const std::lock_guard<std::mutex> lock (mutex);

    if (sender == nullptr || ! isActive (sender))
        return;

    for (auto* p : instances)
        if (p != sender && isActive (p))
            p->applyMeasurementSettings (mode, rmsTimeSec);
}

void LinkRegistry::broadcastCustomWeightedRmsSettings (QuorvaneProcessor* sender,
                                                       const CustomWeightedRmsSettings& settings,
                                                       float rmsTimeSec,
                                                       std::uint64_t generation)
{
    const std::lock_guard<std::mutex> lock (mutex);

    if (sender == nullptr || ! isActive (sender))
        return;

    for (auto* p : instances)
        if (p != sender && isActive (p))
            p->applyCustomWeightedRmsSettings (settings, rmsTimeSec, generation);
}

void LinkRegistry::cancelMeasurementsForSettingsChange()
{
    const std::lock_guard<std::mutex> lock (mutex);

    for (auto* p : instances)
        if (isActive (p))
            p->cancelActiveMeasurementsForSettingsChange();
}

bool LinkRegistry::anyMeasurementActive()
{
    const std::lock_guard<std::mutex> lock (mutex);

    for (auto* p : instances)
        if (isActive (p) && (p->measuringSectionIndex() >= 0 || p->runHeldOpen.load()))
            return true;

    return false;
}
