#include "LoopbackHttpServer.h"
#include "SettingsTestSupport.h"

#include "settings/UpdateChecker.h"

#include <atomic>
#include <random>
#include <set>
#include <thread>

using qvntest::LoopbackHttpServer;
namespace keys = qvn::settingsKeys;

namespace
{
    struct CountingListener : juce::ChangeListener
    {
        void changeListenerCallback (juce::ChangeBroadcaster*) override
        {
            ++count;
            allOnMessageThread = allOnMessageThread && juce::MessageManager::existsAndIsCurrentThread();
        }

        std::atomic<int> count { 0 };
        bool allOnMessageThread = true;
    };

    juce::int64 nowSeconds() { return juce::Time::currentTimeMillis() / 1000; }

    bool waitForThreadEnd (juce::Thread& t, int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounterHiRes() + timeoutMs;

        while (t.isThreadRunning())
        {
            if (juce::Time::getMillisecondCounterHiRes() > end)
                return false;

            juce::Thread::sleep (5);
        }

        return true;
    }

    bool storeHasKey (const char* key)
    {
        return AppSettings::get().properties.getUserSettings()->containsKey (key);
    }

    std::string repeated (const std::string& s, int times)
    {
        std::string r;
        r.reserve (s.size() * (size_t) times);
        for (int i = 0; i < times; ++i) r += s;
        return r;
    }

    // A version text of markup nested 100 deep.
    const std::string deepMarkup = repeated ("<v>", 100) + repeated ("</v>", 100);
    const std::string longVersion (60000, '9');
    const std::string atCapVersion (65536 - 14, '9');
}

class UpdateCheckFixture : public qvntest::SettingsFixture
{
protected:
    // One check through maybeStartCheck(), waiting for the fetch to end and
    // for any notification to arrive on the message thread.
    void runCheck (const std::string& url, int notificationsExpected)
    {
        auto checker = std::make_shared<UpdateChecker> (juce::String (url));
        checker->addChangeListener (&listener);
        checker->maybeStartCheck();
        ASSERT_TRUE (waitForThreadEnd (*checker, 30000));

        if (notificationsExpected > 0)
            EXPECT_TRUE (qvntest::pumpMessagesUntil ([&] { return listener.count >= notificationsExpected; }, 5000));
        else
            qvntest::pumpMessagesFor (150);

        checker->removeChangeListener (&listener);
    }

    CountingListener listener;
};

//==============================================================================
// Every outcome of one fetch, against a real server on 127.0.0.1

struct OutcomeCase
{
    const char* label;
    int httpStatus;
    std::string body;
    const char* expectedStatus;
    const char* expectedVersion;   // nullptr: the attempt must not count as a success
    const char* expectedUrl;
};

void PrintTo (const OutcomeCase& c, std::ostream* os) { *os << c.label; }

class UpdateOutcomeTest : public UpdateCheckFixture,
                          public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P (UpdateOutcomeTest, StatusSnippetAndStoredAnswer)
{
    const auto& c = GetParam();
    AppSettings::get().setLatestSeen ("1.0.0", "https://old.invalid/release");

    LoopbackHttpServer server ({ c.httpStatus, c.body });
    const auto before = nowSeconds();
    runCheck (server.url(), c.expectedVersion != nullptr ? 1 : 0);
    const auto after = nowSeconds();

    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], c.expectedStatus);
    EXPECT_EQ (values[keys::lastFetchBodySnippet], qvn::textFromUtf8 (c.body.data(), c.body.size()).substring (0, 200));

    const auto attempt = values[keys::lastFetchAttemptUnix].getLargeIntValue();
    EXPECT_GE (attempt, before);
    EXPECT_LE (attempt, after);

    // The request itself.
    const auto request = server.lastRequest();
    EXPECT_EQ (request.rfind ("GET /version.json HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE (request.find ("\r\nUser-Agent: Quorvane/1.0.1\r\n"), std::string::npos) << request;
    EXPECT_NE (request.find ("\r\nAccept: application/json\r\n"), std::string::npos) << request;
    EXPECT_EQ (request.find ("Accept: */*"), std::string::npos) << request;

    if (c.expectedVersion != nullptr)
    {
        const auto checked = (juce::int64) values[keys::lastUpdateCheckUnix].getDoubleValue();
        EXPECT_GE (checked, before);
        EXPECT_LE (checked, after);
        EXPECT_EQ (values[keys::latestSeenVersion], c.expectedVersion);
        EXPECT_EQ (values[keys::latestSeenUrl], c.expectedUrl);
        EXPECT_EQ (listener.count.load(), 1);
        EXPECT_TRUE (listener.allOnMessageThread);
    }
    else
    {
        // A failed attempt keeps the last known answer and will be retried.
        EXPECT_EQ (values.count (keys::lastUpdateCheckUnix), 0u);
        EXPECT_EQ (values[keys::latestSeenVersion], "1.0.0");
        EXPECT_EQ (values[keys::latestSeenUrl], "https://old.invalid/release");
        EXPECT_EQ (listener.count.load(), 0);
    }

    // Whatever the server sent is stored as text: the file opens again
    // with every value as it was.
    qvntest::closeSettingsStore();
    auto* file = AppSettings::get().properties.getUserSettings();
    EXPECT_EQ (file->howOpened(), SettingsFile::Opened::read);
    EXPECT_EQ (file->getAllProperties().size(), (int) values.size());

    for (const auto& [key, text] : values)
        EXPECT_EQ (file->getValue (key), text) << key;
}

INSTANTIATE_TEST_SUITE_P (UpdateCheck, UpdateOutcomeTest, ::testing::Values (
    OutcomeCase { "Good", 200, R"({"version":"1.0.2","url":"https://example.invalid/quorvane/1.0.2","notes":[1,2]})",
                  "ok 200", "1.0.2", "https://example.invalid/quorvane/1.0.2" },
    OutcomeCase { "SameVersionStillCounts", 200, R"({"version":" 1.0.1 "})", "ok 200", "1.0.1", "" },
    OutcomeCase { "NumericFields", 200, R"({"version":2,"url":5})", "ok 200", "2", "5" },
    OutcomeCase { "NotFound", 404, "<html><body>Not Found</body></html>", "http 404", nullptr, nullptr },
    OutcomeCase { "ServerError", 503, "busy", "http 503", nullptr, nullptr },
    OutcomeCase { "EmptyBody", 200, "", "empty", nullptr, nullptr },
    OutcomeCase { "EmptyArray", 200, "[]", "no-version-field", nullptr, nullptr },
    OutcomeCase { "ArrayOfObjects", 200, R"([{"version":"9.9.9"}])", "no-version-field", nullptr, nullptr },
    OutcomeCase { "Null", 200, "null", "parse-fail", nullptr, nullptr },
    OutcomeCase { "Number", 200, "42", "parse-fail", nullptr, nullptr },
    OutcomeCase { "String", 200, "\"1.0.2\"", "parse-fail", nullptr, nullptr },
    OutcomeCase { "Garbage", 200, "<<<definitely not json>>>", "parse-fail", nullptr, nullptr },
    OutcomeCase { "BlankVersion", 200, R"({"version":"   ","url":"https://x.invalid"})", "no-version-field", nullptr, nullptr },
    OutcomeCase { "NoVersion", 200, R"({"url":"https://x.invalid"})", "no-version-field", nullptr, nullptr },
    OutcomeCase { "LongBody", 200, std::string (5000, 'z'), "parse-fail", nullptr, nullptr },
    // Nesting the framework's recursive JSON reader would not survive is
    // refused before it is parsed; a version file never nests that deep.
    OutcomeCase { "DeepArrays", 200, std::string (100000, '['), "parse-fail", nullptr, nullptr },
    OutcomeCase { "DeepObjects", 200, repeated ("{\"a\":", 60000), "parse-fail", nullptr, nullptr },
    OutcomeCase { "NestedJustTooDeep", 200, R"({"version":"1.0.2","x":)" + repeated ("[", 32) + repeated ("]", 32) + "}",
                  "parse-fail", nullptr, nullptr },
    OutcomeCase { "NestedDeepestAllowed", 200, R"({"version":"1.0.2","x":)" + repeated ("[", 31) + repeated ("]", 31) + "}",
                  "ok 200", "1.0.2", "" },
    OutcomeCase { "BracketsInsideAString", 200, R"({"version":"1.0.2","x":")" + repeated ("[{", 5000) + R"(\"]"})",
                  "ok 200", "1.0.2", "" },
    // Markup and processing instructions: stored as text, never as markup.
    OutcomeCase { "MarkupBody", 200, "<p><?x?>text</p>", "parse-fail", nullptr, nullptr },
    OutcomeCase { "MarkupErrorPage", 404, "<p><?x?>text</p>", "http 404", nullptr, nullptr },
    OutcomeCase { "XhtmlProxyPage", 503, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE html><html><body><?x?>text"
                  "<p>Service unavailable</p></body></html>", "http 503", nullptr, nullptr },
    OutcomeCase { "MarkupVersionAndAddress", 200, R"({"version":")" + deepMarkup + R"(","url":"<?x?>text<a href='b'/>"})",
                  "ok 200", deepMarkup.c_str(), "<?x?>text<a href='b'/>" },
    OutcomeCase { "ControlCharacters", 200, "{\"version\":\"1.0.2\\u0001\\u0007\",\"url\":\"a\\nb\\r\\tc\"}",
                  "ok 200", "1.0.2\x01\x07", "a\nb\r\tc" },
    // Long texts up to the body cap, and a body beyond it.
    OutcomeCase { "LongVersion", 200, R"({"version":")" + longVersion + "\"}",
                  "ok 200", longVersion.c_str(), "" },
    OutcomeCase { "BodyExactlyAtTheCap", 200, R"({"version":")" + atCapVersion + "\"}",
                  "ok 200", atCapVersion.c_str(), "" },
    OutcomeCase { "BodyOneByteBeyondTheCap", 200, R"({"version":")" + std::string (65537 - 14, '9') + "\"}",
                  "parse-fail", nullptr, nullptr },
    OutcomeCase { "BodyBeyondTheCap", 200, R"({"version":")" + std::string (70000, '9') + "\"}",
                  "parse-fail", nullptr, nullptr },
    OutcomeCase { "HugeNumbers", 200, R"({"version":1e999999,"url":"x","n":-123456789012345678.99999999999999999999,"m":-1e-99999})",
                  "ok 200", "inf", "x" },
    // Integers the framework's reader would overflow gathering the digits.
    OutcomeCase { "IntegerTooLong", 200, R"({"version":"1.0.2","n":1234567890123456789})", "parse-fail", nullptr, nullptr },
    OutcomeCase { "NegativeIntegerTooLong", 200, R"({"version":"1.0.2","n":-1234567890123456789.5})", "parse-fail", nullptr, nullptr },
    OutcomeCase { "DeepInsideSingleQuotes", 200, "['\"', " + std::string (60000, '[') + "]", "parse-fail", nullptr, nullptr },
    OutcomeCase { "InvalidUtf8", 200, "{\"version\":\"1.0.\xff\xfe\"}", "parse-fail", nullptr, nullptr },
    OutcomeCase { "NulInTheBody", 200, std::string ("{\"version\":\"1.0.2\"}\0", 20), "parse-fail", nullptr, nullptr }),
    [] (const auto& info) { return std::string (info.param.label); });

TEST_F (UpdateCheckFixture, SnippetCountsCharactersNotBytes)
{
    std::string body;
    for (int i = 0; i < 300; ++i)
        body += "\xc3\xa9"; // é

    LoopbackHttpServer server ({ 404, body });
    runCheck (server.url(), 0);

    const auto snippet = fileValues()[keys::lastFetchBodySnippet];
    EXPECT_EQ (snippet.length(), 200);
    EXPECT_EQ (snippet, juce::String::repeatedString (juce::String::fromUTF8 ("\xc3\xa9"), 200));
}

TEST_F (UpdateCheckFixture, RefusedPortIsAConnectFailure)
{
    const auto url = "http://127.0.0.1:" + std::to_string (LoopbackHttpServer::refusedPort()) + "/version.json";
    runCheck (url, 0);

    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], "connect-fail");
    EXPECT_EQ (values.count (keys::lastFetchBodySnippet), 0u);
    EXPECT_EQ (values.count (keys::lastUpdateCheckUnix), 0u);
    EXPECT_EQ (values.count (keys::lastFetchAttemptUnix), 1u);
}

TEST_F (UpdateCheckFixture, ServerThatNeverAnswersTimesOutAsAConnectFailure)
{
    LoopbackHttpServer server ({ 200, {}, true });
    runCheck (server.url(), 0);

    EXPECT_EQ (server.requestCount(), 1);
    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], "connect-fail");
    EXPECT_EQ (values.count (keys::lastUpdateCheckUnix), 0u);
}

TEST_F (UpdateCheckFixture, NoServerConfiguredIsNoUrl)
{
    runCheck ({}, 0);
    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], "no-url");
    EXPECT_EQ (values.count (keys::lastFetchAttemptUnix), 1u);
}

TEST (UpdateCheckAddress, BuiltInAddressIsTheVersionFileOnTheConfiguredServer)
{
    const auto url = qvn::builtInVersionFileUrl();
    EXPECT_TRUE (url.endsWith ("/version.json")) << url;
    EXPECT_FALSE (url.endsWith ("//version.json")) << url;
}

TEST_F (UpdateCheckFixture, DestroyingTheCheckerCancelsAFetchInProgress)
{
    LoopbackHttpServer server ({ 200, {}, true });
    auto checker = std::make_shared<UpdateChecker> (juce::String (server.url()));
    checker->addChangeListener (&listener);
    checker->maybeStartCheck();
    ASSERT_TRUE (server.waitForRequests (1, 10000));

    // The connection is open and waiting for an answer that never comes.
    const auto start = juce::Time::getMillisecondCounterHiRes();
    checker.reset();
    const auto tookMs = juce::Time::getMillisecondCounterHiRes() - start;

    // Well inside the 5 s the request would otherwise wait.
    EXPECT_LT (tookMs, 3000.0);
    qvntest::pumpMessagesFor (100);
    EXPECT_EQ (listener.count.load(), 0);

    auto values = fileValues();
    EXPECT_EQ (values.count (keys::lastFetchStatus), 0u);
    EXPECT_EQ (values.count (keys::lastFetchAttemptUnix), 1u);
}

//==============================================================================
// When a check happens

class DailyRuleTest : public UpdateCheckFixture,
                      public ::testing::WithParamInterface<std::pair<juce::int64, bool>> {};

TEST_P (DailyRuleTest, FetchesOnlyWhenTheLastSuccessIsADayOld)
{
    const auto [age, fetches] = GetParam();
    LoopbackHttpServer server ({ 200, R"({"version":"1.0.1"})" });

    // Stay clear of a second boundary between storing and checking.
    while (juce::Time::currentTimeMillis() % 1000 > 100)
        juce::Thread::sleep (5);

    AppSettings::get().setLastUpdateCheckUnix (nowSeconds() - age);

    auto checker = std::make_shared<UpdateChecker> (juce::String (server.url()));
    checker->maybeStartCheck();
    ASSERT_TRUE (waitForThreadEnd (*checker, 20000));

    EXPECT_EQ (server.requestCount(), fetches ? 1 : 0) << "age " << age;
    EXPECT_EQ (storeHasKey (keys::lastFetchAttemptUnix), fetches);
}

INSTANTIATE_TEST_SUITE_P (UpdateCheck, DailyRuleTest, ::testing::Values (
    std::make_pair<juce::int64, bool> (86399, false),
    std::make_pair<juce::int64, bool> (86400, true),
    std::make_pair<juce::int64, bool> (10 * 86400, true),
    std::make_pair<juce::int64, bool> (0, false),
    std::make_pair<juce::int64, bool> (-1000, false)));   // stored time lies in the future

TEST_F (UpdateCheckFixture, AbsentLastCheckFetchesAndASuccessSuppressesTheNext)
{
    LoopbackHttpServer server ({ 200, R"({"version":"1.0.1"})" });
    runCheck (server.url(), 1);
    EXPECT_EQ (server.requestCount(), 1);

    listener.count = 0;
    runCheck (server.url(), 0);
    EXPECT_EQ (server.requestCount(), 1);
}

TEST_F (UpdateCheckFixture, FailedAttemptIsRetriedAtTheNextOccasion)
{
    LoopbackHttpServer server ({ 404, "gone" });
    runCheck (server.url(), 0);
    runCheck (server.url(), 0);
    EXPECT_EQ (server.requestCount(), 2);
}

TEST_F (UpdateCheckFixture, DisabledChecksNeitherFetchNorNotify)
{
    LoopbackHttpServer server ({ 200, R"({"version":"9.0"})" });
    AppSettings::get().setUpdateChecksEnabled (false);
    AppSettings::get().setLatestSeen ("1.0.2", {});

    runCheck (server.url(), 0);
    EXPECT_EQ (server.requestCount(), 0);
    EXPECT_EQ (listener.count.load(), 0);
    EXPECT_FALSE (storeHasKey (keys::lastFetchAttemptUnix));
}

TEST_F (UpdateCheckFixture, RecentSuccessWithANewerVersionNotifiesWithoutFetching)
{
    LoopbackHttpServer server ({ 200, R"({"version":"9.0"})" });
    AppSettings::get().setLastUpdateCheckUnix (nowSeconds() - 60);
    AppSettings::get().setLatestSeen ("1.0.2", "https://example.invalid/r");

    runCheck (server.url(), 1);
    EXPECT_EQ (server.requestCount(), 0);
    EXPECT_EQ (listener.count.load(), 1);
    EXPECT_TRUE (listener.allOnMessageThread);

    // Without a newer version there is nothing to announce.
    listener.count = 0;
    AppSettings::get().setLatestSeen ("1.0.1", {});
    runCheck (server.url(), 0);
    EXPECT_EQ (listener.count.load(), 0);
}

TEST_F (UpdateCheckFixture, AskingAgainWhileAFetchRunsDoesNothing)
{
    LoopbackHttpServer server ({ 200, R"({"version":"1.0.3"})", false, 400 });
    auto checker = std::make_shared<UpdateChecker> (juce::String (server.url()));
    checker->addChangeListener (&listener);

    checker->maybeStartCheck();
    ASSERT_TRUE (server.waitForRequests (1, 10000));
    checker->maybeStartCheck();
    checker->maybeStartCheck();

    ASSERT_TRUE (waitForThreadEnd (*checker, 20000));
    EXPECT_TRUE (qvntest::pumpMessagesUntil ([&] { return listener.count >= 1; }, 5000));
    qvntest::pumpMessagesFor (100);

    EXPECT_EQ (server.requestCount(), 1);
    EXPECT_EQ (listener.count.load(), 1);
    EXPECT_TRUE (checker->hasNewVersion());
    checker->removeChangeListener (&listener);
}

//==============================================================================
// Version comparison and the release page

TEST_F (UpdateCheckFixture, HasNewVersionComparesNumericParts)
{
    struct Case { const char* stored; bool newer; };
    const Case cases[] = {
        { "1.0.2", true }, { "1.1", true }, { "2", true }, { "1.0.1.1", true },
        { " 1.0.2", true }, { "1..2", true }, { "99999999999999999999999", true },
        { "1.0.1", false }, { "1.0.01", false }, { "1.0.1-beta", false }, { "1.0", false },
        { "0.9.9", false }, { "v2.0", false }, { "", false }, { "-2", false }, { "1.0.1.0", false },
    };

    auto checker = std::make_shared<UpdateChecker> (juce::String());

    for (const auto& c : cases)
    {
        AppSettings::get().setLatestSeen (c.stored, {});
        EXPECT_EQ (checker->hasNewVersion(), c.newer) << "'" << c.stored << "'";
    }
}

TEST_F (UpdateCheckFixture, OnlyAnHttpsReleasePageIsOffered)
{
    struct Case { const char* stored; bool openable; };
    const Case cases[] = {
        { "https://example.invalid/quorvane/releases/1.0.2", true },
        { "HTTPS://example.invalid/r?v=1.0.2#notes", true },
        { "http://example.invalid/r", false },
        { "file:///etc/passwd", false },
        { "javascript:alert(1)", false },
        { "https://", false },
        { "https:///path", false },
        { "https://example.invalid/$(reboot)", false },
        { "https://example.invalid/\"; reboot; \"", false },
        { "https://example.invalid/a b", false },
        { "https://example.invalid/`id`", false },
        { "", false },
    };

    for (const auto& c : cases)
    {
        AppSettings::get().setLatestSeen ("1.0.2", c.stored);
        EXPECT_EQ (AppSettings::get().latestSeenUrl(), c.stored);    // stored as received
        EXPECT_EQ (UpdateChecker::openableReleasePageUrl().isNotEmpty(), c.openable) << c.stored;
    }
}

//==============================================================================
// The shared checker

TEST_F (UpdateCheckFixture, SharedCheckerLivesAsLongAsSomeoneHoldsIt)
{
    AppSettings::get().setUpdateChecksEnabled (false);

    auto first = UpdateChecker::getShared();
    auto second = UpdateChecker::getShared();
    EXPECT_EQ (first, second);
    EXPECT_FALSE (first->isThreadRunning());
    EXPECT_EQ (first->getThreadName(), "QVN Update Check");

    std::weak_ptr<UpdateChecker> watch = first;
    first.reset();
    EXPECT_FALSE (watch.expired());
    second.reset();
    EXPECT_TRUE (watch.expired());

    auto third = UpdateChecker::getShared();
    EXPECT_NE (third, nullptr);

    // Many threads asking at once all get the one living checker.
    std::vector<std::shared_ptr<UpdateChecker>> seen (8);
    std::vector<std::thread> threads;

    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back ([&, i] { seen[i] = UpdateChecker::getShared(); });

    for (auto& t : threads)
        t.join();

    for (auto& s : seen)
        EXPECT_EQ (s, third);
}

TEST_F (UpdateCheckFixture, NotificationArrivingAfterTheCheckerIsGoneDoesNothing)
{
    LoopbackHttpServer server ({ 200, R"({"version":"1.0.2"})" });
    auto checker = std::make_shared<UpdateChecker> (juce::String (server.url()));
    checker->addChangeListener (&listener);
    checker->maybeStartCheck();
    ASSERT_TRUE (waitForThreadEnd (*checker, 20000));

    // The success posted a notification that has not been delivered yet.
    checker->removeChangeListener (&listener);
    std::weak_ptr<UpdateChecker> watch = checker;
    checker.reset();
    EXPECT_TRUE (watch.expired());

    qvntest::pumpMessagesFor (200);
    EXPECT_EQ (listener.count.load(), 0);
    EXPECT_EQ (fileValues()[keys::lastFetchStatus], "ok 200");
}

TEST_F (UpdateCheckFixture, LastOwnerLettingGoMidFetchDestroysTheCheckerOnTheOwnersThread)
{
    // The owner drops the checker while the answer is on its way: the
    // destructor runs here, cancels, and nothing is left behind.
    LoopbackHttpServer server ({ 200, R"({"version":"1.0.2"})", false, 300 });
    auto checker = std::make_shared<UpdateChecker> (juce::String (server.url()));
    checker->maybeStartCheck();
    ASSERT_TRUE (server.waitForRequests (1, 10000));

    std::weak_ptr<UpdateChecker> watch = checker;
    checker.reset();
    EXPECT_TRUE (watch.expired());
    qvntest::pumpMessagesFor (500);

    EXPECT_EQ (fileValues().count (keys::lastFetchStatus), 0u);
}

//==============================================================================
// Answers that trickle in

TEST_F (UpdateCheckFixture, AnswerDrippingSlowerThanTheTransferAllowsIsCutOff)
{
    // Ten bytes a second: the whole object arrives, the rest never does.
    LoopbackHttpServer::Answer drip { 200, R"({"version":"9.9.9"})" + std::string (300, ' ') };
    drip.dripMs = 100;
    LoopbackHttpServer dripping (drip);

    runCheck (dripping.url(), 0);
    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], "parse-fail");
    EXPECT_EQ (values.count (keys::latestSeenVersion), 0u);
}

TEST_F (UpdateCheckFixture, AnswerThatNeverEndsIsCutOffInTime)
{
    // Fast enough for the transfer's own low-speed limit, but endless.
    LoopbackHttpServer::Answer trickle { 200, R"({"version":"9.9.9"}    )" };
    trickle.dripMs = 50;
    trickle.dripBytes = 20;
    trickle.endless = true;
    LoopbackHttpServer server (trickle);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    runCheck (server.url(), 0);
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 25000.0);

    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], "parse-fail");
    EXPECT_EQ (values.count (keys::latestSeenVersion), 0u);
    EXPECT_TRUE (values[keys::lastFetchBodySnippet].startsWith (R"({"version":"9.9.9"})"));
}

TEST_F (UpdateCheckFixture, HeadersThatNeverEndAreCutOffInTime)
{
    // A status line, then header lines fast enough for the transfer's
    // low-speed limit, and never the blank line that ends them.
    LoopbackHttpServer::Answer headers { 200, "X-Padding: " + std::string (100, 'p') + "\r\n" };
    headers.headersNeverEnd = true;
    headers.dripMs = 20;
    LoopbackHttpServer server (headers, 120000);

    const auto start = juce::Time::getMillisecondCounterHiRes();
    runCheck (server.url(), 0);
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 25000.0);

    auto values = fileValues();
    EXPECT_EQ (values[keys::lastFetchStatus], "connect-fail");
    EXPECT_EQ (values.count (keys::latestSeenVersion), 0u);
}

//==============================================================================
// Mutated answers

TEST_F (UpdateCheckFixture, MutatedAnswersEndInAStatusAndLeaveTheFileReadable)
{
    const std::string valid = R"({"version":"1.0.2","url":"https://example.invalid/r?a=1","notes":[1,2.5e3,{"a":"b\u00e9"}],"n":null,"t":true})";
    const std::set<juce::String> statuses { "ok 200", "parse-fail", "no-version-field", "empty" };
    std::mt19937 rng (1302);

    for (int i = 0; i < 120; ++i)
    {
        auto body = valid;

        for (int edits = 1 + (int) (rng() % 3); edits > 0 && ! body.empty(); --edits)
        {
            const auto at = rng() % body.size();
            const auto byte = (char) (rng() & 0xff);

            switch (rng() % 3)
            {
                case 0:  body[at] = byte; break;
                case 1:  body.insert (at, 1, byte); break;
                default: body.erase (at, 1); break;
            }
        }

        AppSettings::get().setLastUpdateCheckUnix (0);
        LoopbackHttpServer server ({ 200, body });
        auto checker = std::make_shared<UpdateChecker> (juce::String (server.url()));
        checker->startThread();
        ASSERT_TRUE (waitForThreadEnd (*checker, 30000)) << body;

        EXPECT_EQ (statuses.count (AppSettings::get().properties.getUserSettings()->getValue (keys::lastFetchStatus)), 1u)
            << body;

        qvntest::closeSettingsStore();
        EXPECT_EQ (AppSettings::get().properties.getUserSettings()->howOpened(), SettingsFile::Opened::read) << body;
    }

    qvntest::pumpMessagesFor (100);
}
