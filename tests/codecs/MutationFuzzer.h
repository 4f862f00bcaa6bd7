#pragma once

// A small, seeded, deterministic mutation fuzzer for GoogleTest programs.
//
// MutationFuzzer turns a valid input (an encoded value, a saved state blob)
// into a damaged one: bit flips, truncation, extension, byte insertion and
// removal, character replacement, duplicated ranges, dictionary tokens, and
// corruption of decimal or little-endian binary length fields.
//
// runFuzzLoop drives a body over a bounded number of iterations and a time
// budget. Every iteration draws its randomness from (seed, iteration) alone,
// so a failure is replayed exactly with QVN_FUZZ_SEED and QVN_FUZZ_ITERATION.
// A watchdog aborts the process, naming the iteration, when one call hangs.
//
// Environment: QVN_FUZZ_SEED (decimal), QVN_FUZZ_SECONDS (budget per loop),
// QVN_FUZZ_ITERATION (run only this iteration).
//
// Typical use, e.g. over saved plug-in states (magic and length at 0 and 4):
//
//     MutationFuzzer::Options o;
//     o.binaryLengthFields = { { 0, 4 }, { 4, 4 } };
//     o.dictionary = { "<applied>", "idx=\"16\"", ... };
//     const MutationFuzzer fuzzer (o);
//     runFuzzLoop ("state", 1234, { 1000000, 5.0, 10.0 }, [&] (uint64_t, Rng& rng) {
//         const auto blob = fuzzer.mutate (rng.pick (savedStates), rng);
//         if (isReplay()) dumpInput (blob);
//         AllocationScope scope;                      // AllocationProbe.h
//         processor.setStateInformation (blob.data(), (int) blob.size());
//         ASSERT_LE (scope.largestRequest(), 64 * blob.size() + 65536);
//     }, [] { return ::testing::Test::HasFailure(); });

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qvn::fuzz
{
    // splitmix64: tiny, fast and identical on every platform.
    class Rng
    {
    public:
        explicit Rng (uint64_t seed) noexcept : state (seed) {}

        uint64_t next() noexcept
        {
            uint64_t z = (state += 0x9e3779b97f4a7c15ull);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
            return z ^ (z >> 31);
        }

        // Uniform in [0, n); 0 when n is 0.
        uint64_t below (uint64_t n) noexcept { return n == 0 ? 0 : next() % n; }

        // Uniform in [lo, hi].
        uint64_t between (uint64_t lo, uint64_t hi) noexcept { return lo + below (hi - lo + 1); }

        bool chance (unsigned percent) noexcept { return below (100) < percent; }

        template <typename T>
        const T& pick (const std::vector<T>& items) noexcept { return items[(size_t) below (items.size())]; }

    private:
        uint64_t state;
    };

    inline uint64_t mixSeed (uint64_t seed, uint64_t iteration) noexcept
    {
        Rng r (seed ^ (iteration * 0xd1342543de82ef95ull));
        r.next();
        return r.next();
    }

    class MutationFuzzer
    {
    public:
        struct Options
        {
            // Characters that replacements and insertions prefer (for a text
            // format: its own alphabet). Random bytes are used as well.
            std::string alphabet;

            // Tokens inserted, or put in place of numbers and ranges.
            std::vector<std::string> dictionary;

            // Little-endian unsigned integer fields (offset, size in bytes) of
            // a binary format that hold lengths or counts.
            std::vector<std::pair<size_t, size_t>> binaryLengthFields;

            size_t maxLength = 1u << 20;
            int maxStackedMutations = 4;
        };

        enum class Kind
        {
            bitFlip, truncate, extend, insertByte, eraseRange, replaceChar,
            decimalField, binaryLengthField, duplicateRange, insertToken,
            numKinds
        };

        explicit MutationFuzzer (Options o) : options (std::move (o)) {}

        // Applies 1 to maxStackedMutations mutations drawn from rng.
        std::string mutate (const std::string& input, Rng& rng) const
        {
            std::string data = input;
            const auto count = (int) rng.between (1, (uint64_t) std::max (1, options.maxStackedMutations));

            for (int i = 0; i < count; ++i)
                mutateOnce (data, (Kind) rng.below ((uint64_t) Kind::numKinds), rng);

            if (data.size() > options.maxLength)
                data.resize (options.maxLength);

            return data;
        }

        void mutateOnce (std::string& data, Kind kind, Rng& rng) const
        {
            switch (kind)
            {
                case Kind::bitFlip:
                {
                    if (data.empty())
                        return;

                    const auto flips = rng.between (1, 8);

                    for (uint64_t i = 0; i < flips; ++i)
                        data[(size_t) rng.below (data.size())] ^= (char) (1u << rng.below (8));

                    return;
                }

                case Kind::truncate:
                    data.resize ((size_t) rng.below (data.size() + 1));
                    return;

                case Kind::extend:
                {
                    const auto n = rng.chance (5) ? (size_t) rng.between (1000, options.maxLength / 4 + 1000)
                                                  : (size_t) rng.between (1, 64);
                    if (! data.empty() && rng.chance (30))
                    {
                        // repeat a piece of the input: plausible-looking growth
                        const auto from = (size_t) rng.below (data.size());
                        const auto piece = data.substr (from, (size_t) rng.between (1, 64));

                        for (size_t added = 0; added < n && data.size() < options.maxLength; added += piece.size())
                            data += piece;

                        return;
                    }

                    for (size_t i = 0; i < n && data.size() < options.maxLength; ++i)
                        data.push_back (randomChar (rng));
                    return;
                }

                case Kind::insertByte:
                {
                    const auto at = (size_t) rng.below (data.size() + 1);
                    data.insert (data.begin() + (std::ptrdiff_t) at, rng.chance (50) ? randomChar (rng) : (char) rng.below (256));
                    return;
                }

                case Kind::eraseRange:
                {
                    if (data.empty())
                        return;

                    const auto at = (size_t) rng.below (data.size());
                    data.erase (at, (size_t) rng.between (1, std::min<uint64_t> (16, data.size() - at)));
                    return;
                }

                case Kind::replaceChar:
                {
                    if (data.empty())
                        return;

                    const auto n = rng.between (1, 4);

                    for (uint64_t i = 0; i < n; ++i)
                        data[(size_t) rng.below (data.size())] = rng.chance (70) ? randomChar (rng) : specialChar (rng);
                    return;
                }

                case Kind::decimalField:
                    corruptDecimalField (data, rng);
                    return;

                case Kind::binaryLengthField:
                    corruptBinaryField (data, rng);
                    return;

                case Kind::duplicateRange:
                {
                    if (data.empty())
                        return;

                    const auto from = (size_t) rng.below (data.size());
                    const auto len = (size_t) rng.between (1, std::min<uint64_t> (256, data.size() - from));
                    const auto at = (size_t) rng.below (data.size() + 1);
                    const auto piece = data.substr (from, len);
                    data.insert (at, piece);
                    return;
                }

                case Kind::insertToken:
                {
                    if (options.dictionary.empty())
                        return mutateOnce (data, Kind::insertByte, rng);

                    const auto& token = rng.pick (options.dictionary);
                    const auto at = (size_t) rng.below (data.size() + 1);

                    if (rng.chance (50) && at < data.size())
                        data.replace (at, std::min (token.size(), data.size() - at), token);
                    else
                        data.insert (at, token);
                    return;
                }

                case Kind::numKinds:
                    return;
            }
        }

        const Options& getOptions() const noexcept { return options; }

    private:
        char randomChar (Rng& rng) const noexcept
        {
            if (! options.alphabet.empty() && rng.chance (80))
                return options.alphabet[(size_t) rng.below (options.alphabet.size())];

            return (char) rng.between (32, 126);
        }

        static char specialChar (Rng& rng) noexcept
        {
            static const char specials[] = { '\0', '.', '-', '+', '=', '/', ' ', '\n', '<', '>', '"', '&', (char) 0x7f, (char) 0x80, (char) 0xc3, (char) 0xff };
            return specials[rng.below (sizeof (specials))];
        }

        // Finds a run of decimal digits (with an optional minus sign) and puts
        // a boundary value, a neighbour or a dictionary token in its place.
        void corruptDecimalField (std::string& data, Rng& rng) const
        {
            std::vector<std::pair<size_t, size_t>> runs;

            for (size_t i = 0; i < data.size();)
            {
                if (data[i] >= '0' && data[i] <= '9')
                {
                    auto start = i;
                    if (start > 0 && data[start - 1] == '-')
                        --start;
                    while (i < data.size() && data[i] >= '0' && data[i] <= '9')
                        ++i;
                    runs.emplace_back (start, i - start);
                }
                else
                {
                    ++i;
                }
            }

            if (runs.empty())
                return mutateOnce (data, Kind::insertToken, rng);

            // The first number of a text is often its length field: favour it.
            const auto run = rng.chance (50) ? runs.front() : rng.pick (runs);
            const auto original = data.substr (run.first, run.second);
            const auto value = std::strtoll (original.c_str(), nullptr, 10);

            static const std::vector<std::string> boundaries {
                "", "0", "1", "-1", "7", "8", "9", "19", "20", "21", "35", "36", "37", "72",
                "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295", "4294967296",
                "9223372036854775807", "18446744073709551615", "18446744073709551616",
                "99999999999999999999999999", "00000000000000000008", "1e9", "0x10"
            };

            std::string replacement;

            switch (rng.below (4))
            {
                case 0:  replacement = rng.pick (boundaries); break;
                // neighbours and doublings wrap rather than overflow
                case 1:  replacement = std::to_string ((long long) ((unsigned long long) value + (rng.chance (50) ? rng.between (1, 8) : 0 - rng.between (1, 8)))); break;
                case 2:  replacement = std::to_string (rng.chance (50) ? (long long) ((unsigned long long) value * 2u) : value / 2); break;
                default: replacement = options.dictionary.empty() ? rng.pick (boundaries) : rng.pick (options.dictionary); break;
            }

            data.replace (run.first, run.second, replacement);
        }

        void corruptBinaryField (std::string& data, Rng& rng) const
        {
            if (options.binaryLengthFields.empty())
                return mutateOnce (data, Kind::decimalField, rng);

            const auto field = rng.pick (options.binaryLengthFields);

            if (field.second == 0 || field.second > 8 || field.first + field.second > data.size())
                return mutateOnce (data, Kind::truncate, rng);

            uint64_t current = 0;
            for (size_t i = 0; i < field.second; ++i)
                current |= (uint64_t) (uint8_t) data[field.first + i] << (8 * i);

            const std::vector<uint64_t> values {
                0, 1, current - 1, current + 1, current * 2, current / 2, data.size(), data.size() - field.first,
                0x7fffffffull, 0x80000000ull, 0xffffffffull, ~0ull, rng.next()
            };

            const auto v = rng.pick (values);

            for (size_t i = 0; i < field.second; ++i)
                data[field.first + i] = (char) (uint8_t) (v >> (8 * i));
        }

        Options options;
    };

    struct FuzzBudget
    {
        uint64_t maxIterations = 1000000;
        double seconds = 5.0;       // wall-clock budget of the loop
        double hangSeconds = 10.0;  // one iteration longer than this aborts
    };

    struct FuzzStats
    {
        uint64_t iterations = 0;
        double seconds = 0.0;
        uint64_t seed = 0;
    };

    inline uint64_t envOr (const char* name, uint64_t fallback)
    {
        if (const char* v = std::getenv (name); v != nullptr && *v != 0)
            return std::strtoull (v, nullptr, 10);
        return fallback;
    }

    inline double envOrSeconds (const char* name, double fallback)
    {
        if (const char* v = std::getenv (name); v != nullptr && *v != 0)
            return std::strtod (v, nullptr);
        return fallback;
    }

    // True while one iteration is replayed (QVN_FUZZ_ITERATION set): a body
    // may then print the input it built.
    inline bool isReplay()
    {
        return envOr ("QVN_FUZZ_ITERATION", ~0ull) != ~0ull;
    }

    // Writes a fuzz input to stderr, escaping what is not printable ASCII.
    inline void dumpInput (const std::string& data)
    {
        std::fprintf (stderr, "input (%zu bytes): \"", data.size());
        for (unsigned char c : data)
        {
            if (c >= 32 && c < 127 && c != '\\' && c != '"')
                std::fputc (c, stderr);
            else
                std::fprintf (stderr, "\\x%02x", c);
        }
        std::fprintf (stderr, "\"\n");
        std::fflush (stderr);
    }

    // Runs body (iteration, rng) for iterations 0, 1, 2, ... until the
    // iteration or time budget is spent. The body reports failures itself
    // (GoogleTest assertions); the loop stops at the first fatal one when
    // stopEarly returns true.
    inline FuzzStats runFuzzLoop (const char* name,
                                  uint64_t defaultSeed,
                                  FuzzBudget budget,
                                  const std::function<void (uint64_t iteration, Rng& rng)>& body,
                                  const std::function<bool()>& stopEarly = {})
    {
        FuzzStats stats;
        stats.seed = envOr ("QVN_FUZZ_SEED", defaultSeed);
        budget.seconds = envOrSeconds ("QVN_FUZZ_SECONDS", budget.seconds);

        const auto only = envOr ("QVN_FUZZ_ITERATION", ~0ull);

        std::atomic<uint64_t> current { 0 };
        std::atomic<int64_t> iterationStartMs { -1 };
        std::atomic<bool> finished { false };
        std::mutex mutex;
        std::condition_variable wake;

        const auto t0 = std::chrono::steady_clock::now();
        const auto nowMs = [t0] {
            return (int64_t) std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - t0).count();
        };

        std::thread watchdog ([&] {
            std::unique_lock<std::mutex> lock (mutex);

            while (! finished.load())
            {
                wake.wait_for (lock, std::chrono::milliseconds (250));
                const auto started = iterationStartMs.load();

                if (started >= 0 && (double) (nowMs() - started) > budget.hangSeconds * 1000.0)
                {
                    std::fprintf (stderr, "\n%s: iteration %llu did not finish within %.1f s (QVN_FUZZ_SEED=%llu QVN_FUZZ_ITERATION=%llu)\n",
                                  name, (unsigned long long) current.load(), budget.hangSeconds,
                                  (unsigned long long) stats.seed, (unsigned long long) current.load());
                    std::fflush (stderr);
                    std::abort();
                }
            }
        });

        for (uint64_t i = (only != ~0ull ? only : 0); ; ++i)
        {
            if (only == ~0ull)
            {
                if (i >= budget.maxIterations || (double) nowMs() > budget.seconds * 1000.0)
                    break;
            }
            else if (i != only)
            {
                break;
            }

            current.store (i);
            iterationStartMs.store (nowMs());

            Rng rng (mixSeed (stats.seed, i));
            body (i, rng);

            iterationStartMs.store (-1);
            ++stats.iterations;

            if (stopEarly && stopEarly())
            {
                std::fprintf (stderr, "%s: failure at QVN_FUZZ_SEED=%llu QVN_FUZZ_ITERATION=%llu\n",
                              name, (unsigned long long) stats.seed, (unsigned long long) i);
                break;
            }
        }

        {
            std::lock_guard<std::mutex> lock (mutex);
            finished.store (true);
        }
        wake.notify_all();
        watchdog.join();

        stats.seconds = (double) nowMs() / 1000.0;
        std::printf ("%s: %llu iterations in %.2f s (seed %llu)\n", name,
                     (unsigned long long) stats.iterations, stats.seconds, (unsigned long long) stats.seed);
        std::fflush (stdout);
        return stats;
    }
} // namespace qvn::fuzz
