// The built bundle loaded, used and unloaded again and again in one process,
// as a host does when it rescans or closes and reopens a project: nothing the
// bundle started may outlive its unload (a thread running code of an unmapped
// library would crash the host).

#include "RawVst3Host.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

using namespace qvntest;

namespace
{
    int threadCount()
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator ("/proc/self/task"))
            ++n;
        return n;
    }

    bool libraryMapped (const std::string& path)
    {
        std::ifstream maps ("/proc/self/maps");
        std::string line;
        while (std::getline (maps, line))
            if (line.find (path) != std::string::npos)
                return true;
        return false;
    }
}

TEST (BundleUnload, InstancesLeaveNothingRunningAfterUnload)
{
    const std::string library = QVN_VST3_BUNDLE_LIBRARY;
    const auto baseline = threadCount();

    for (int round = 0; round < 6; ++round)
    {
        SCOPED_TRACE ("round " + std::to_string (round));
        std::string error;
        auto module = Vst3Module::openBundle (library, error);
        ASSERT_NE (module.getFactory, nullptr) << error;
        ASSERT_TRUE (module.moduleEntry == nullptr || module.moduleEntry (module.handle));

        auto* factory = module.getFactory();
        ASSERT_NE (factory, nullptr);

        {
            // Several instances, made, run and released on the host's main
            // thread as a project opens and closes.
            std::vector<std::unique_ptr<RawVst3Plugin>> plugins (6);

            for (auto& p : plugins)
                p = std::make_unique<RawVst3Plugin> (*factory);

            for (auto& p : plugins)
            {
                ASSERT_TRUE (p->isValid());
                ASSERT_TRUE (p->prepare (48000.0, 512));
                std::vector<std::vector<float>> audio (2, std::vector<float> (512, 0.25f));
                for (int b = 0; b < 20; ++b)
                {
                    const auto context = makeProcessContext (48000.0, b * 512, true);
                    ASSERT_EQ (p->process (audio, 512, nullptr, &context), Steinberg::kResultOk);
                }
            }

            plugins.clear();
        }

        factory->release();

        if (module.moduleExit != nullptr)
            ASSERT_TRUE (module.moduleExit());

        ASSERT_EQ (dlclose (module.handle), 0);

        // Where dlclose unmaps the library (a toolchain without unique
        // symbols, other systems), a thread of the bundle still running
        // would now execute unmapped code: every thread it started is gone.
        // Give a sleeping one the time to wake up first.
        std::this_thread::sleep_for (std::chrono::milliseconds (400));
        EXPECT_EQ (threadCount(), baseline);

        if (round == 0)
            std::cout << "bundle " << (libraryMapped (library) ? "stays mapped" : "is unmapped") << " after dlclose" << std::endl;
    }
}
