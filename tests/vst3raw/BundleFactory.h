#pragma once

// The factory of the built plug-in bundle (QVN_VST3_BUNDLE_LIBRARY, set for
// programs made with qvn_add_vst3_bundle_test), loaded once and kept loaded
// for the whole program, as in a host. Null, with a test failure recorded,
// when the bundle cannot be opened.

#include "RawVst3Host.h"

#include <gtest/gtest.h>

#include <string>

namespace qvntest
{
inline Steinberg::IPluginFactory* bundleFactory()
{
    static Steinberg::IPluginFactory* factory = []() -> Steinberg::IPluginFactory*
    {
        std::string error;
        auto module = Vst3Module::openBundle (QVN_VST3_BUNDLE_LIBRARY, error);

        if (module.getFactory == nullptr)
        {
            ADD_FAILURE() << error;
            return nullptr;
        }

        if (module.moduleEntry != nullptr && ! module.moduleEntry (module.handle))
        {
            ADD_FAILURE() << "ModuleEntry failed";
            return nullptr;
        }

        return module.getFactory();
    }();

    return factory;
}
} // namespace qvntest
