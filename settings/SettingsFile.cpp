#include "settings/SettingsFile.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qvn
{
namespace
{
    // Appends the valid UTF-8 of [data, data + size) to `out` (when given),
    // with U+FFFD for every invalid sequence and every NUL. Returns whether
    // everything was valid.
    bool copyValidUtf8 (const char* data, size_t size, std::string* out)
    {
        const auto* s = reinterpret_cast<const unsigned char*> (data);
        bool valid = true;
        size_t i = 0;

        while (i < size)
        {
            const auto b = s[i];
            size_t length = 0;
            unsigned char lo = 0x80, hi = 0xbf;

            if (b >= 0x01 && b < 0x80)                 length = 1;
            else if (b >= 0xc2 && b <= 0xdf)           length = 2;
            else if (b >= 0xe0 && b <= 0xef)
            {
                length = 3;
                if (b == 0xe0) lo = 0xa0;
                if (b == 0xed) hi = 0x9f;   // no surrogates
            }
            else if (b >= 0xf0 && b <= 0xf4)
            {
                length = 4;
                if (b == 0xf0) lo = 0x90;
                if (b == 0xf4) hi = 0x8f;
            }

            bool ok = length > 0 && i + length <= size;

            for (size_t k = 1; ok && k < length; ++k)
            {
                const auto c = s[i + k];
                ok = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xbf);
            }

            if (ok)
            {
                if (out != nullptr)
                    out->append (data + i, length);

                i += length;
            }
            else
            {
                valid = false;

                if (out == nullptr)
                    return false;

                out->append ("\xef\xbf\xbd");
                ++i;
            }
        }

        return valid;
    }

    // Values are taken exactly as written: no folding of blanks or line ends.
    constexpr unsigned int parseOptions = pugi::parse_default & ~(pugi::parse_wconv_attribute | pugi::parse_eol);

    // Deeper than anything the store writes (four levels) by a wide margin;
    // a file nested deeper was not written by it.
    constexpr int maxFileDepth = 64;

    // The store has a few dozen keys at most; a file with far more was not
    // written by it (and each key is looked up in a list).
    constexpr int maxFileKeys = 4096;

    struct DepthLimit : pugi::xml_tree_walker
    {
        bool for_each (pugi::xml_node&) override
        {
            tooDeep = depth() > maxFileDepth;
            return ! tooDeep;
        }

        bool tooDeep = false;
    };

    struct StringWriter : pugi::xml_writer
    {
        void write (const void* data, size_t size) override { text.append (static_cast<const char*> (data), size); }
        std::string text;
    };

    juce::String attributeText (const pugi::xml_node& node, const char* name)
    {
        const auto* v = node.attribute (name).value();
        return textFromUtf8 (v, std::strlen (v));
    }

    //==========================================================================
    enum class Read { absent, whole, unreadable, refused };

    struct FileContent
    {
        Read result = Read::absent;
        std::string bytes;
        struct stat identity {};
    };

    bool sameFile (const struct stat& a, const struct stat& b) noexcept
    {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }

    // Reads the file at `path` when it is a regular file of bounded size,
    // through one descriptor to its end (a file replaced meanwhile is read
    // whole, in its old or its new form). A FIFO, a device, a folder or a
    // file too large is never read.
    FileContent readRegularFile (const std::string& path, juce::int64 maxBytes)
    {
        FileContent c;

        if (::stat (path.c_str(), &c.identity) != 0)
        {
            // A dangling link or a missing folder is no file; a file that
            // cannot be looked at is kept as it is.
            c.result = (errno == ENOENT || errno == ENOTDIR) ? Read::absent : Read::refused;
            return c;
        }

        if (! S_ISREG (c.identity.st_mode) || c.identity.st_size > maxBytes)
        {
            c.result = Read::unreadable;
            return c;
        }

        const int fd = ::open (path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);

        if (fd < 0)
        {
            c.result = errno == ENOENT ? Read::absent : Read::refused;
            return c;
        }

        struct stat opened {};

        if (::fstat (fd, &opened) != 0 || ! S_ISREG (opened.st_mode) || opened.st_size > maxBytes)
        {
            ::close (fd);
            c.result = Read::unreadable;
            return c;
        }

        c.identity = opened;
        c.result = Read::whole;
        char buffer[65536];

        for (;;)
        {
            const auto n = ::read (fd, buffer, sizeof (buffer));

            if (n < 0 && errno == EINTR)
                continue;

            if (n < 0)
            {
                c.result = Read::refused;
                break;
            }

            if (n == 0)
                break;

            c.bytes.append (buffer, (size_t) n);

            if ((juce::int64) c.bytes.size() > maxBytes)
            {
                c.result = Read::unreadable;
                break;
            }
        }

        ::close (fd);
        return c;
    }

    // Moves the file aside under the first of "<name>.unreadable",
    // "<name>.unreadable-2", ... that does not exist yet, never replacing
    // an earlier copy. Returns the new place, or an empty file on failure.
    juce::File moveAside (const juce::File& file)
    {
        const auto from = file.getFullPathName().toStdString();

        for (int n = 1; n < 1000; ++n)
        {
            const auto to = file.getSiblingFile (file.getFileName() + ".unreadable"
                                                 + (n > 1 ? "-" + juce::String (n) : juce::String()));
            const auto toPath = to.getFullPathName().toStdString();

           #ifdef RENAME_NOREPLACE
            if (::renameat2 (AT_FDCWD, from.c_str(), AT_FDCWD, toPath.c_str(), RENAME_NOREPLACE) == 0)
                return to;

            if (errno == EEXIST)
                continue;

            if (errno != EINVAL && errno != ENOSYS)
                return {};
           #endif

            // Without a no-replace rename (system or file system): a second
            // link cannot replace anything either.
            if (::link (from.c_str(), toPath.c_str()) == 0)
            {
                if (::unlink (from.c_str()) == 0)
                    return to;

                ::unlink (toPath.c_str());
                return {};
            }

            if (errno != EEXIST)
                return {};
        }

        return {};
    }

    // The values of a settings file, or false when it is not one.
    bool parseSettings (const std::string& bytes, juce::StringPairArray& values)
    {
        // A file saved by a text editor as UTF-16 starts with its byte-order
        // mark (the framework's reader took such files too); anything else
        // is read as UTF-8.
        auto encoding = pugi::encoding_utf8;
        const auto startsWith = [&] (unsigned char a, unsigned char b)
        {
            return bytes.size() >= 2 && (unsigned char) bytes[0] == a && (unsigned char) bytes[1] == b;
        };

        if (startsWith (0xff, 0xfe))       encoding = pugi::encoding_utf16_le;
        else if (startsWith (0xfe, 0xff))  encoding = pugi::encoding_utf16_be;

        pugi::xml_document doc;

        if (! doc.load_buffer (bytes.data(), bytes.size(), parseOptions, encoding))
            return false;

        const auto root = doc.document_element();

        if (std::strcmp (root.name(), "PROPERTIES") != 0)
            return false;

        DepthLimit depth;
        doc.traverse (depth);

        if (depth.tooDeep)
            return false;

        int count = 0;

        for (const auto& e : root.children ("VALUE"))
        {
            juce::ignoreUnused (e);

            if (++count > maxFileKeys)
                return false;
        }

        for (const auto& e : root.children ("VALUE"))
        {
            const auto name = attributeText (e, "name");

            if (name.isEmpty())
                continue;

            // As the framework reads it: a child element is the value,
            // written out as one line of XML; otherwise the "val" text.
            pugi::xml_node element;

            for (const auto& child : e.children())
            {
                if (child.type() == pugi::node_element)
                {
                    element = child;
                    break;
                }
            }

            if (element)
            {
                StringWriter w;
                element.print (w, "", pugi::format_raw, pugi::encoding_utf8);
                values.set (name, textFromUtf8 (w.text.data(), w.text.size()));
            }
            else
            {
                values.set (name, attributeText (e, "val"));
            }
        }

        return true;
    }

    // The values in the file at `path` now, for a save to build on; nothing
    // when the file is missing, blank or cannot be read as settings.
    std::optional<juce::StringPairArray> valuesOnDisk (const std::string& path)
    {
        const auto content = readRegularFile (path, SettingsFile::maxFileBytes);
        juce::StringPairArray values (false);

        // A missing or empty file says nothing about what other stores
        // wrote (it may be gone for a moment, or its folder unreachable):
        // taking it as "no values" would drop every value this store holds.
        if (content.result != Read::whole)
            return std::nullopt;

        if (content.bytes.find_first_not_of (" \t\r\n") == std::string::npos)
            return std::nullopt;

        if (! parseSettings (content.bytes, values))
            return std::nullopt;

        return values;
    }

    // Sets `key` in `values` to its value in `from`, or removes it when
    // `from` has none.
    void takeValue (juce::StringPairArray& values, const juce::String& key, const juce::StringPairArray& from)
    {
        const auto index = from.getAllKeys().indexOf (key);

        if (index >= 0)
            values.set (key, from.getAllValues()[index]);
        else
            values.remove (juce::StringRef (key));
    }

    // A copy, as a framework element, of an element tree that holds only
    // elements and attributes no deeper than `levels`; null for anything
    // else (text, comments, instructions, deeper nesting).
    std::unique_ptr<juce::XmlElement> plainElementTree (const pugi::xml_node& node, int levels)
    {
        if (levels <= 0 || node.type() != pugi::node_element)
            return {};

        const auto tag = textFromUtf8 (node.name(), std::strlen (node.name()));

        if (! juce::XmlElement::isValidXmlName (tag))
            return {};

        auto e = std::make_unique<juce::XmlElement> (tag);

        for (const auto& a : node.attributes())
        {
            const auto name = textFromUtf8 (a.name(), std::strlen (a.name()));

            if (! juce::XmlElement::isValidXmlName (name))
                return {};

            e->setAttribute (juce::Identifier (name), textFromUtf8 (a.value(), std::strlen (a.value())));
        }

        for (const auto& child : node.children())
        {
            auto c = plainElementTree (child, levels - 1);

            if (c == nullptr)
                return {};

            e->addChildElement (c.release());
        }

        return e;
    }
} // namespace

juce::String textFromUtf8 (const char* data, size_t size)
{
    if (copyValidUtf8 (data, size, nullptr))
        return juce::String::fromUTF8 (data, (int) size);

    std::string valid;
    valid.reserve (size + 16);
    copyValidUtf8 (data, size, &valid);
    return juce::String::fromUTF8 (valid.data(), (int) valid.size());
}

bool isValidUtf8 (const char* data, size_t size) noexcept
{
    return copyValidUtf8 (data, size, nullptr);
}

} // namespace qvn

//==============================================================================
SettingsFile::SettingsFile (juce::File fileToUse, juce::StringArray keysStoredAsElements)
    : juce::PropertySet (false),
      file (std::move (fileToUse)),
      elementKeys (std::move (keysStoredAsElements))
{
    open();
}

SettingsFile::~SettingsFile()
{
    saveIfNeeded();
}

void SettingsFile::propertyChanged()
{
    noteChangedKeys();
    needsWriting = true;
}

void SettingsFile::noteChangedKeys()
{
    const juce::ScopedLock sl (getLock());
    const auto& all = getAllProperties();
    std::map<juce::String, juce::String> now;

    for (int i = 0; i < all.size(); ++i)
        now.emplace (all.getAllKeys()[i], all.getAllValues()[i]);

    // Both sorted: one walk finds every key set, changed or removed.
    auto a = lastSeen.cbegin();
    auto b = now.cbegin();

    while (a != lastSeen.cend() || b != now.cend())
    {
        if (b == now.cend() || (a != lastSeen.cend() && a->first < b->first))
        {
            changedHere.insert (a->first);
            ++a;
        }
        else if (a == lastSeen.cend() || b->first < a->first)
        {
            changedHere.insert (b->first);
            ++b;
        }
        else
        {
            if (a->second != b->second)
                changedHere.insert (a->first);

            ++a;
            ++b;
        }
    }

    lastSeen = std::move (now);
}

void SettingsFile::open()
{
    using namespace qvn;
    const auto path = file.getFullPathName().toStdString();

    // A file replaced by another process between reading and moving aside
    // is read again rather than moved unread.
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        const auto content = readRegularFile (path, maxFileBytes);
        juce::StringPairArray values (false);

        if (content.result == Read::absent)
        {
            opened = Opened::absent;
            return;
        }

        if (content.result == Read::refused)
        {
            opened = Opened::leftInPlace;
            return;
        }

        if (content.result == Read::whole)
        {
            if (content.bytes.find_first_not_of (" \t\r\n") == std::string::npos)
            {
                opened = Opened::absent;   // nothing in it to keep
                return;
            }

            if (parseSettings (content.bytes, values))
            {
                const juce::ScopedLock sl (getLock());
                getAllProperties() = values;

                for (int i = 0; i < values.size(); ++i)
                    lastSeen.emplace (values.getAllKeys()[i], values.getAllValues()[i]);

                opened = Opened::read;
                return;
            }
        }

        // Another process (a second host opening the same file) may have
        // moved it aside or replaced it meanwhile: then what is there now
        // is read instead.
        const auto stillTheFileRead = [&]
        {
            struct stat now {};
            return ::stat (path.c_str(), &now) == 0 && sameFile (now, content.identity);
        };

        if (! stillTheFileRead())
            continue;

        asideCopy = moveAside (file);

        if (asideCopy == juce::File() && ! stillTheFileRead())
            continue;

        opened = asideCopy != juce::File() ? Opened::setAside : Opened::leftInPlace;
        return;
    }

    opened = Opened::leftInPlace;
}

juce::String SettingsFile::fileText (const juce::StringPairArray& all) const
{
    juce::XmlElement doc ("PROPERTIES");

    for (int i = 0; i < all.size(); ++i)
    {
        const auto key = all.getAllKeys()[i];
        const auto value = all.getAllValues()[i];
        auto* e = doc.createNewChildElement ("VALUE");
        e->setAttribute ("name", key);

        // The store's own lists go into the file as elements, as they always
        // have; any other text, and a list that is not a plain element tree,
        // stays text.
        std::unique_ptr<juce::XmlElement> tree;

        if (elementKeys.contains (key))
        {
            pugi::xml_document parsed;
            const auto* utf8 = value.toRawUTF8();

            if (parsed.load_buffer (utf8, std::strlen (utf8), qvn::parseOptions, pugi::encoding_utf8))
            {
                const auto root = parsed.document_element();

                if (std::strcmp (root.name(), key.toRawUTF8()) == 0)
                    tree = qvn::plainElementTree (root, 4);
            }
        }

        if (tree != nullptr)
            e->addChildElement (tree.release());
        else
            e->setAttribute ("val", value);
    }

    return doc.toString();
}

void SettingsFile::takeOverValuesOnDisk()
{
    std::lock_guard<std::mutex> lock (saveMutex);

    if (opened == Opened::leftInPlace)
        return;

    const auto onDisk = qvn::valuesOnDisk (file.getFullPathName().toStdString());

    if (! onDisk.has_value())
        return;

    const juce::ScopedLock sl (getLock());
    noteChangedKeys();
    adoptValues (*onDisk);
}

// Under the property lock: memory takes over the given values (the other
// stores' keys), keeping the changes made here since, and remembers them as
// last seen.
void SettingsFile::adoptValues (juce::StringPairArray values)
{
    for (const auto& key : changedHere)
        qvn::takeValue (values, key, getAllProperties());

    getAllProperties() = values;
    lastSeen.clear();

    for (int i = 0; i < values.size(); ++i)
        lastSeen.emplace (values.getAllKeys()[i], values.getAllValues()[i]);
}

bool SettingsFile::saveIfNeeded()
{
    return needsWriting ? save() : true;
}

bool SettingsFile::save()
{
    std::lock_guard<std::mutex> lock (saveMutex);

    if (opened == Opened::leftInPlace)
        return false;

    // Cleared before the values are taken, so a change made meanwhile is
    // saved by its own writer.
    needsWriting = false;

    // This store's own changes, with their values as they are now; the
    // record starts again from here.
    juce::StringPairArray ownValues (false);
    std::set<juce::String> ownChanges;

    {
        const juce::ScopedLock sl (getLock());
        noteChangedKeys();
        ownValues = getAllProperties();
        ownChanges.swap (changedHere);
    }

    // Another process (a second host) may have written the file since this
    // store last read or wrote it: its keys are kept, and only the keys
    // changed here are written over them. A file that cannot be read now
    // is not this store's to repair; its own values are written whole.
    const auto onDisk = qvn::valuesOnDisk (file.getFullPathName().toStdString());
    juce::StringPairArray values (false);

    {
        const juce::ScopedLock sl (getLock());
        noteChangedKeys();   // made during the read: saved by their own writer

        if (onDisk.has_value())
        {
            values = *onDisk;

            for (const auto& key : ownChanges)
                qvn::takeValue (values, key, ownValues);

            // Memory takes over the other stores' values, keeping the
            // changes made here after the values were taken.
            adoptValues (values);
        }
        else
        {
            values = ownValues;
        }
    }

    // When nothing was written, the changes taken are still this store's
    // own and go into the next save.
    const auto keepChangesForNextSave = [&]
    {
        const juce::ScopedLock sl (getLock());
        changedHere.insert (ownChanges.begin(), ownChanges.end());
        needsWriting = true;
    };

    const auto text = fileText (values);

    const auto folder = file.getParentDirectory();

    if (! folder.createDirectory())
    {
        keepChangesForNextSave();
        return false;
    }

    // A settings file that is a link to a file elsewhere (a user's dotfiles)
    // is replaced where the link points, so the link stays as it is. Where
    // no copy can be made beside that file, the link itself is replaced.
    const auto linkPath = file.getFullPathName().toStdString();
    std::string target = linkPath;
    struct stat st {};

    if (::lstat (linkPath.c_str(), &st) == 0 && S_ISLNK (st.st_mode))
    {
        if (auto* resolved = ::realpath (linkPath.c_str(), nullptr))
        {
            target = resolved;
            std::free (resolved);
        }
    }

    std::string temp;
    int fd = -1;

    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt)
    {
        temp = target + ".tmp-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()).toStdString();
        fd = ::open (temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);

        if (fd < 0 && errno != EEXIST)
        {
            if (target == linkPath)
                break;

            target = linkPath;
        }
    }

    if (fd < 0)
    {
        keepChangesForNextSave();
        return false;
    }

    const auto* data = text.toRawUTF8();
    auto remaining = text.getNumBytesAsUTF8();
    bool ok = true;

    while (ok && remaining > 0)
    {
        const auto n = ::write (fd, data, remaining);

        if (n < 0 && errno == EINTR)
            continue;

        ok = n > 0;

        if (ok)
        {
            data += n;
            remaining -= (size_t) n;
        }
    }

    ok = ok && ::fsync (fd) == 0;
    ok = (::close (fd) == 0) && ok;
    ok = ok && ::rename (temp.c_str(), target.c_str()) == 0;

    if (! ok)
    {
        ::unlink (temp.c_str());
        keepChangesForNextSave();
    }

    return ok;
}
