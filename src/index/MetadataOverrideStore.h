#pragma once

// The user's tempo and key corrections, kept in the preference store ("FileBPMOverrides",
// "FileKeyOverrides", "FileBPMCleared", "FileKeyCleared") and written at once on every change.
// Readers off the main thread take snapshot(): an immutable copy that later edits never touch.
// Main thread only.

#include "index/MetadataOverrides.h"

#include <QObject>

#include <memory>

namespace kivo::platform {
class PreferenceStore;
}

namespace kivo::index {

inline constexpr char kFileBPMOverridesKey[] = "FileBPMOverrides";
inline constexpr char kFileKeyOverridesKey[] = "FileKeyOverrides";
inline constexpr char kFileBPMClearedKey[] = "FileBPMCleared";
inline constexpr char kFileKeyClearedKey[] = "FileKeyCleared";

class MetadataOverrideStore : public QObject {
    Q_OBJECT
public:
    // Reads the four keys now.
    explicit MetadataOverrideStore(platform::PreferenceStore& store, QObject* parent = nullptr);

    const PathKeyedMap<std::int64_t>& bpmOverrides() const { return m_values->bpmOverrides; }
    const PathKeyedMap<std::string>& keyOverrides() const { return m_values->keyOverrides; }
    const PathKeyedSet& clearedBPMPaths() const { return m_values->clearedBPMPaths; }
    const PathKeyedSet& clearedKeyPaths() const { return m_values->clearedKeyPaths; }
    std::shared_ptr<const MetadataOverrides> snapshot() const { return m_values; }

    void setBPM(std::optional<std::int64_t> value, const std::vector<std::string>& paths);
    void setKey(const std::optional<std::string>& key, const std::vector<std::string>& paths);
    void clearBPM(const std::vector<std::string>& paths);
    void clearKey(const std::vector<std::string>& paths);
    // Neither an override nor a mark: the file's own value again (the editor's "Automatic").
    void resetBPM(const std::vector<std::string>& paths);
    void resetKey(const std::vector<std::string>& paths);
    // A folder moved: its overrides and marks, and those below it, follow it.
    void remapPaths(const std::string& from, const std::string& to);
    // Reads all four keys again (another workspace became the live one). Entries of the wrong type
    // are dropped one by one.
    void reloadFromStore();

signals:
    void bpmOverridesChanged();
    void keyOverridesChanged();
    void clearedBPMPathsChanged();
    void clearedKeyPathsChanged();
    // Once after any of the above, for observers that redraw on every change.
    void changed();

private:
    enum Pairs { kBPMPair = 1, kKeyPair = 2 };
    // Applies `edit` to a copy, publishes it and writes the pairs it touched.
    template <class Edit> void update(Edit edit);
    void publish(MetadataOverrides next);
    void persist(int pairs);

    platform::PreferenceStore& m_store;
    std::shared_ptr<const MetadataOverrides> m_values = std::make_shared<MetadataOverrides>();
};

} // namespace kivo::index
