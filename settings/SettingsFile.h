#pragma once

#include <juce_core/juce_core.h>
#include <juce_data_structures/juce_data_structures.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>

namespace qvn
{
    // Text from bytes that should be UTF-8 but come from outside (a file, a
    // server): every byte sequence that is not valid UTF-8, and every NUL,
    // becomes U+FFFD; valid text passes unchanged.
    juce::String textFromUtf8 (const char* data, size_t size);

    // True when the bytes are valid UTF-8 without NULs.
    bool isValidUtf8 (const char* data, size_t size) noexcept;
}

// The per-user settings file, in the framework's XML properties format: a
// PROPERTIES root holding one VALUE element per key, with the key in "name"
// and the text in "val", or, for the keys whose text is the store's own XML
// list, that list as a child element.
//
// The file is read and written without the framework's XML reader, which
// hangs, crashes or reads without bounds on some damaged files. It is read
// only when it is a regular file of at most maxFileBytes, through one open
// descriptor to its end, with a parser that neither recurses nor expands
// entities. Every value is kept as text and written back as text; only the
// listed keys whose text is a plain element tree go into the file as
// elements, so no value can change the file's structure.
//
// The file is shared by every store of the user, in this process and in
// others (hosts that run each plug-in in a process of its own). A save
// therefore reads the file again and writes what is there now with only the
// keys this store changed (set or removed) since it last read or wrote the
// file; every other key keeps the value another store wrote meanwhile. The
// values in memory take over those newer values at that save (there is no
// watching of the file between saves). When the file on disk cannot be read
// at a save, the store writes its own values whole, as it holds them.
//
// A file that cannot be read whole is moved aside (beside it, under a name
// no earlier copy holds) and the store starts from defaults. When it cannot
// be moved, the store runs from defaults in memory and never writes over it.
class SettingsFile : public juce::PropertySet
{
public:
    enum class Opened
    {
        absent,       // no file (or an empty one): defaults, saved on the first write
        read,         // every value of the file was read
        setAside,     // unreadable, moved to setAsideCopy(); defaults
        leftInPlace   // unreadable and could not be moved; defaults, never saved
    };

    static constexpr juce::int64 maxFileBytes = 8 * 1024 * 1024;

    SettingsFile (juce::File file, juce::StringArray keysStoredAsElements);

    // Saves what is still pending.
    ~SettingsFile() override;

    const juce::File& getFile() const noexcept { return file; }
    Opened howOpened() const noexcept { return opened; }
    juce::File setAsideCopy() const { return asideCopy; }

    // True unless the file was found unreadable.
    bool isValidFile() const noexcept { return opened == Opened::absent || opened == Opened::read; }

    // Writes the file when a value changed since the last save. False when
    // writing failed or the file must not be written.
    bool saveIfNeeded();

    // Writes the whole file now: a complete copy beside it, then a rename
    // over it, so a reader never sees half a file. The values written are
    // those on disk with this store's own changes applied.
    bool save();

    bool needsToBeSaved() const noexcept { return needsWriting; }

    // Takes over the values other stores wrote to the file since this store
    // last read or wrote it, without writing; changes made here and not yet
    // saved stay on top. For a change built on a stored value (one entry of
    // a stored list), so that it starts from the newest list.
    void takeOverValuesOnDisk();

private:
    void propertyChanged() override;
    void open();
    void noteChangedKeys();
    void adoptValues (juce::StringPairArray values);
    juce::String fileText (const juce::StringPairArray& values) const;

    const juce::File file;
    const juce::StringArray elementKeys;
    Opened opened = Opened::absent;
    juce::File asideCopy;
    std::atomic<bool> needsWriting { false };
    std::mutex saveMutex;

    // Under the property lock: the values as last seen by noteChangedKeys(),
    // and the keys this store changed since the file was last read or
    // written (a key no longer among the values was removed).
    std::map<juce::String, juce::String> lastSeen;
    std::set<juce::String> changedHere;

    JUCE_DECLARE_NON_COPYABLE (SettingsFile)
};
