#include "settings/UpdateChecker.h"
#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"

#include <mutex>

#ifndef QVN_UPDATE_SERVER_URL
 #define QVN_UPDATE_SERVER_URL ""
#endif

namespace
{
    juce::int64 nowSeconds()
    {
        return juce::Time::currentTimeMillis() / 1000;
    }

    // A version file is a few hundred bytes. An answer larger than this
    // (which leaves ample room) is not one and is not parsed.
    constexpr size_t kMaxBodyBytes = 64 * 1024;

    // A server that keeps a trickle of bytes coming is cut off after this
    // long; the transfer's own low-speed limit only catches a slower one.
    constexpr double kMaxBodyMilliseconds = 15000.0;

    // Deeper than any version file; the framework's JSON reader recurses
    // once per level, so deeper text is refused before it gets there.
    constexpr int kMaxJsonDepth = 32;

    struct Body
    {
        std::string bytes;
        bool complete = true;   // neither cut off nor broken off by an error
    };

    Body readBody (juce::WebInputStream& stream, const juce::Thread& thread)
    {
        Body body;
        char buffer[4096];
        const auto deadline = juce::Time::getMillisecondCounterHiRes() + kMaxBodyMilliseconds;

        while (! thread.threadShouldExit())
        {
            const auto n = stream.read (buffer, (int) sizeof (buffer));

            if (n <= 0)
            {
                body.complete = ! stream.isError();
                break;
            }

            body.bytes.append (buffer, (size_t) n);

            if (body.bytes.size() > kMaxBodyBytes || juce::Time::getMillisecondCounterHiRes() > deadline)
            {
                body.complete = false;
                break;
            }
        }

        return body;
    }

    // True when the framework's JSON reader can take the text safely: arrays
    // and objects nest at most `maxDepth` deep (it recurses once per level)
    // and no number starts with more than 18 digits (it gathers them in a
    // 64-bit integer without an overflow check). It takes '...' as a string
    // too.
    bool fitsTheJsonReader (const std::string& json, int maxDepth) noexcept
    {
        constexpr int maxIntegerDigits = 18;
        int depth = 0, digits = 0;
        char quote = 0, before = 0;
        bool escaped = false, integerPart = false;

        for (const auto c : json)
        {
            if (quote != 0)
            {
                if (escaped)          escaped = false;
                else if (c == '\\')   escaped = true;
                else if (c == quote)  quote = 0;
            }
            else if (c >= '0' && c <= '9')
            {
                // Digits after a point or an exponent are read as a double.
                if (digits == 0)
                    integerPart = before != '.' && before != 'e' && before != 'E' && before != '+';

                if (++digits > maxIntegerDigits && integerPart)
                    return false;
            }
            else if (c == '"' || c == '\'')
            {
                quote = c;
            }
            else if (c == '[' || c == '{')
            {
                if (++depth > maxDepth)
                    return false;
            }
            else if (c == ']' || c == '}')
            {
                depth = std::max (0, depth - 1);
            }

            if (c < '0' || c > '9')
            {
                digits = 0;

                // A sign right after an exponent belongs to it.
                if (! (c == '-' && (before == 'e' || before == 'E')))
                    before = c;
                else
                    before = '+';
            }
        }

        return true;
    }

    // The value of the decimal digits at the start of a version part, after
    // optional blanks and an optional sign; no digits reads as 0.
    juce::int64 versionPartValue (const juce::String& part)
    {
        auto p = part.getCharPointer().findEndOfWhitespace();
        bool negative = false;

        if (*p == '-' || *p == '+')
        {
            negative = (*p == '-');
            ++p;
        }

        constexpr juce::int64 limit = 1000000000000000000LL;
        juce::int64 value = 0;

        // Saturates instead of overflowing on absurdly long digit runs.
        for (; juce::CharacterFunctions::isDigit (*p); ++p)
            value = value > (limit - 9) / 10 ? limit : value * 10 + (juce::int64) (*p - '0');

        return negative ? -value : value;
    }

    bool isUrlCharacter (juce::juce_wchar c)
    {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            return true;

        // RFC 3986 unreserved and reserved characters, plus '%' for escapes.
        return juce::String ("-._~:/?#[]@!&'()*+,;=%").containsChar (c);
    }
} // namespace

//==============================================================================
namespace qvn
{

juce::String builtInVersionFileUrl()
{
    auto base = juce::String (QVN_UPDATE_SERVER_URL).trim();

    while (base.endsWithChar ('/'))
        base = base.dropLastCharacters (1);

    return base.isEmpty() ? juce::String() : base + "/version.json";
}

bool isVersionNewer (const juce::String& latest, const juce::String& current)
{
    if (latest.isEmpty())
        return false;

    const auto a = juce::StringArray::fromTokens (latest, ".", "");
    const auto b = juce::StringArray::fromTokens (current, ".", "");

    for (int i = 0; i < std::max (a.size(), b.size()); ++i)
    {
        const auto x = i < a.size() ? versionPartValue (a[i]) : 0;
        const auto y = i < b.size() ? versionPartValue (b[i]) : 0;

        if (x != y)
            return x > y;
    }

    return false;
}

bool isOpenableReleasePageUrl (const juce::String& url)
{
    if (! url.startsWithIgnoreCase ("https://"))
        return false;

    for (auto p = url.getCharPointer(); ! p.isEmpty(); ++p)
        if (! isUrlCharacter (*p))
            return false;

    const auto host = url.substring (8).upToFirstOccurrenceOf ("/", false, false)
                                       .upToFirstOccurrenceOf ("?", false, false)
                                       .upToFirstOccurrenceOf ("#", false, false)
                                       .fromLastOccurrenceOf ("@", false, false);

    return host.isNotEmpty() && ! host.startsWithChar (':');
}

} // namespace qvn

//==============================================================================
std::shared_ptr<UpdateChecker> UpdateChecker::getShared()
{
    // Reached from every editor on the message thread; guarded so that a
    // lookup never races the creation of the next checker.
    static std::mutex sharedMutex;
    static std::weak_ptr<UpdateChecker> weak;

    std::lock_guard<std::mutex> lock (sharedMutex);

    if (auto living = weak.lock())
        return living;

    auto created = std::make_shared<UpdateChecker>();
    weak = created;
    return created;
}

UpdateChecker::UpdateChecker (juce::String versionFileUrlToUse)
    : juce::Thread ("QVN Update Check"),
      versionFileUrl (std::move (versionFileUrlToUse))
{
}

UpdateChecker::~UpdateChecker()
{
    signalThreadShouldExit();

    {
        const juce::ScopedLock sl (streamLock);

        if (activeStream != nullptr)
            activeStream->cancel();
    }

    stopThread (-1);
}

void UpdateChecker::maybeStartCheck()
{
    auto& settings = AppSettings::get();

    if (! settings.updateChecksEnabled())
        return;

    const auto now = nowSeconds();
    const auto last = settings.lastUpdateCheckUnix();

    if (now - last > kSecondsBetweenChecks - 1)
    {
        if (! isThreadRunning())
            startThread();

        return;
    }

    if (hasNewVersion())
        notifyListenersAsync();
}

bool UpdateChecker::hasNewVersion() const
{
    return qvn::isVersionNewer (AppSettings::get().latestSeenVersion(), qvn::kCurrentVersion);
}

juce::String UpdateChecker::openableReleasePageUrl()
{
    const auto url = AppSettings::get().latestSeenUrl().trim();
    return qvn::isOpenableReleasePageUrl (url) ? url : juce::String();
}

void UpdateChecker::notifyListenersAsync()
{
    // Only a weak reference travels: taking a shared one here could make
    // this thread the last owner, and the checker would then be destroyed
    // on its own thread, waiting for itself.
    std::weak_ptr<UpdateChecker> weak = weak_from_this();

    juce::MessageManager::callAsync ([weak]
    {
        if (auto self = weak.lock())
            self->sendChangeMessage();
    });
}

void UpdateChecker::run()
{
    runFetch();
}

void UpdateChecker::runFetch()
{
    auto& settings = AppSettings::get();
    settings.writeValue (qvn::settingsKeys::lastFetchAttemptUnix, nowSeconds());

    if (versionFileUrl.isEmpty())
    {
        settings.setLastFetchStatus ("no-url");
        return;
    }

    juce::WebInputStream stream (juce::URL (versionFileUrl), false);
    stream.withExtraHeaders ("User-Agent: Quorvane/" + juce::String (qvn::kCurrentVersion)
                             + "\r\nAccept: application/json");
    stream.withConnectionTimeout (kConnectionTimeoutMs);

    {
        const juce::ScopedLock sl (streamLock);
        activeStream = &stream;
    }

    bool connected = false;
    int statusCode = 0;
    Body body;

    // The destructor signals the exit before it looks at activeStream, so a
    // request it could not cancel is never started.
    if (! threadShouldExit())
    {
        // A transfer that failed before any answer arrived (refused, timed
        // out, cancelled) has no status code.
        connected = stream.connect (nullptr) && ! stream.isError();

        if (connected)
        {
            statusCode = stream.getStatusCode();
            connected = statusCode != 0;
        }

        if (connected)
            body = readBody (stream, *this);
    }

    {
        const juce::ScopedLock sl (streamLock);
        activeStream = nullptr;
    }

    if (threadShouldExit())
        return;

    if (! connected)
    {
        settings.setLastFetchStatus ("connect-fail");
        return;
    }

    // The answer is text from outside: it is only ever stored as text.
    const auto& bytes = body.bytes;
    const bool validText = qvn::isValidUtf8 (bytes.data(), bytes.size());
    const auto text = validText ? juce::String::createStringFromData (bytes.data(), (int) bytes.size())
                                : qvn::textFromUtf8 (bytes.data(), bytes.size());

    settings.writeValue (qvn::settingsKeys::lastFetchBodySnippet, text.substring (0, kBodySnippetLength));

    if (statusCode != 200)
    {
        settings.setLastFetchStatus ("http " + juce::String (statusCode));
        return;
    }

    if (bytes.empty() && body.complete)
    {
        settings.setLastFetchStatus ("empty");
        return;
    }

    // What cannot be a version file is refused before it is parsed.
    const auto json = body.complete && validText && fitsTheJsonReader (bytes, kMaxJsonDepth)
                        ? juce::JSON::parse (text)
                        : juce::var();

    if (! (json.isObject() || json.isArray()))
    {
        settings.setLastFetchStatus ("parse-fail");
        return;
    }

    const auto version = json.getProperty ("version", {}).toString().trim();
    const auto url = json.getProperty ("url", {}).toString().trim();

    if (version.isEmpty())
    {
        settings.setLastFetchStatus ("no-version-field");
        return;
    }

    settings.setLastFetchStatus ("ok " + juce::String (200));
    settings.setLastUpdateCheckUnix (nowSeconds());
    settings.setLatestSeen (version, url);
    notifyListenersAsync();
}
