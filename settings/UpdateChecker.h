#pragma once

#include <juce_core/juce_core.h>
#include <juce_events/juce_events.h>

#include <memory>

namespace qvn
{
    // The version of this build, compared with the version the server reports.
    inline constexpr const char* kCurrentVersion = "1.0.1";

    // The address of the version file on the update server (from the build
    // setting QVN_UPDATE_SERVER_URL); empty when no server is configured.
    juce::String builtInVersionFileUrl();

    // True when `latest` is numerically greater than `current`, comparing the
    // "."-separated parts as integers (missing parts count as 0).
    bool isVersionNewer (const juce::String& latest, const juce::String& current);

    // A release-page address that may be handed to a browser: an https://
    // address with a host and no blanks or control characters.
    bool isOpenableReleasePageUrl (const juce::String& url);
}

// Checks in the background, at most about once a day, whether a newer release
// exists. One checker is shared by all editors of the process; they own it
// through shared references, listen to it as change listeners and call
// maybeStartCheck() whenever they lay themselves out.
class UpdateChecker : public juce::Thread,
                      public juce::ChangeBroadcaster,
                      public std::enable_shared_from_this<UpdateChecker>
{
public:
    // The living shared checker, or a new one (thread not started).
    static std::shared_ptr<UpdateChecker> getShared();

    // A checker that fetches `versionFileUrl` (empty: no server configured).
    explicit UpdateChecker (juce::String versionFileUrl = qvn::builtInVersionFileUrl());

    // Cancels a fetch in progress and waits for the thread to end.
    ~UpdateChecker() override;

    // Message thread: starts a fetch when one is due, else announces an
    // already known newer version.
    void maybeStartCheck();

    // True when the stored latest version is newer than this build.
    bool hasNewVersion() const;

    // The stored release-page address if it may be opened in a browser,
    // else empty.
    static juce::String openableReleasePageUrl();

    // Sends a change message on the message thread if this checker still
    // exists by then. Callable from any thread.
    void notifyListenersAsync();

    static constexpr int kConnectionTimeoutMs = 5000;
    static constexpr juce::int64 kSecondsBetweenChecks = 86400;
    static constexpr int kBodySnippetLength = 200;

private:
    void run() override;
    void runFetch();

    const juce::String versionFileUrl;

    juce::CriticalSection streamLock;
    juce::WebInputStream* activeStream = nullptr;

    JUCE_DECLARE_NON_COPYABLE (UpdateChecker)
};
