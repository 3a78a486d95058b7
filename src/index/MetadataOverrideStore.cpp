#include "index/MetadataOverrideStore.h"

#include "platform/MainThread.h"
#include "platform/PreferenceStore.h"

namespace kivo::index {

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

template <class Value, class Read>
PathKeyedMap<Value> readMap(const platform::PreferenceStore& store, const char* name, Read read)
{
    PathKeyedMap<Value> out;
    const auto dict = store.dictValue(key(name));
    if (!dict)
        return out;
    for (auto it = dict->begin(); it != dict->end(); ++it)
        if (const auto value = read(it.value()))
            out.emplace(it.key().toStdString(), *value);
    return out;
}

PathKeyedSet readSet(const platform::PreferenceStore& store, const char* name)
{
    PathKeyedSet out;
    const auto list = store.arrayValue(key(name));
    if (!list)
        return out;
    for (const QVariant& item : *list)
        if (item.typeId() == QMetaType::QString)
            out.insert(item.toString().toStdString());
    return out;
}

QVariantList toList(const PathKeyedSet& set)
{
    QStringList paths;
    for (const auto& path : set)
        paths << QString::fromStdString(path);
    // Sorted so the same values always write the same file.
    paths.sort();
    return QVariantList(paths.begin(), paths.end());
}

} // namespace

MetadataOverrideStore::MetadataOverrideStore(platform::PreferenceStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    reloadFromStore();
}

void MetadataOverrideStore::reloadFromStore()
{
    KIVO_MAIN_THREAD();
    MetadataOverrides next;
    next.bpmOverrides = readMap<std::int64_t>(m_store, kFileBPMOverridesKey, [](const QVariant& v) {
        return v.typeId() == QMetaType::LongLong ? std::optional<std::int64_t>(v.toLongLong()) : std::nullopt;
    });
    next.keyOverrides = readMap<std::string>(m_store, kFileKeyOverridesKey, [](const QVariant& v) {
        return v.typeId() == QMetaType::QString ? std::optional<std::string>(v.toString().toStdString())
                                                : std::nullopt;
    });
    next.clearedBPMPaths = readSet(m_store, kFileBPMClearedKey);
    next.clearedKeyPaths = readSet(m_store, kFileKeyClearedKey);
    publish(std::move(next));
}

template <class Edit> void MetadataOverrideStore::update(Edit edit)
{
    KIVO_MAIN_THREAD();
    MetadataOverrides next = *m_values;
    const int pairs = edit(next);
    publish(std::move(next));
    persist(pairs);
}

void MetadataOverrideStore::setBPM(std::optional<std::int64_t> value, const std::vector<std::string>& paths)
{
    update([&](MetadataOverrides& o) {
        o.setBPM(value, paths);
        return kBPMPair;
    });
}

void MetadataOverrideStore::setKey(
    const std::optional<std::string>& key, const std::vector<std::string>& paths)
{
    update([&](MetadataOverrides& o) {
        o.setKey(key, paths);
        return kKeyPair;
    });
}

void MetadataOverrideStore::clearBPM(const std::vector<std::string>& paths)
{
    update([&](MetadataOverrides& o) {
        o.clearBPM(paths);
        return kBPMPair;
    });
}

void MetadataOverrideStore::clearKey(const std::vector<std::string>& paths)
{
    update([&](MetadataOverrides& o) {
        o.clearKey(paths);
        return kKeyPair;
    });
}

void MetadataOverrideStore::resetBPM(const std::vector<std::string>& paths)
{
    update([&](MetadataOverrides& o) {
        o.resetBPM(paths);
        return kBPMPair;
    });
}

void MetadataOverrideStore::resetKey(const std::vector<std::string>& paths)
{
    update([&](MetadataOverrides& o) {
        o.resetKey(paths);
        return kKeyPair;
    });
}

void MetadataOverrideStore::remapPaths(const std::string& from, const std::string& to)
{
    update([&](MetadataOverrides& o) {
        o.remapPaths(from, to);
        return kBPMPair | kKeyPair;
    });
}

void MetadataOverrideStore::publish(MetadataOverrides next)
{
    const MetadataOverrides& old = *m_values;
    const bool bpm = next.bpmOverrides != old.bpmOverrides;
    const bool key = next.keyOverrides != old.keyOverrides;
    const bool clearedBPM = next.clearedBPMPaths != old.clearedBPMPaths;
    const bool clearedKey = next.clearedKeyPaths != old.clearedKeyPaths;
    if (!bpm && !key && !clearedBPM && !clearedKey)
        return;
    m_values = std::make_shared<const MetadataOverrides>(std::move(next));
    if (bpm)
        emit bpmOverridesChanged();
    if (key)
        emit keyOverridesChanged();
    if (clearedBPM)
        emit clearedBPMPathsChanged();
    if (clearedKey)
        emit clearedKeyPathsChanged();
    emit changed();
}

void MetadataOverrideStore::persist(int pairs)
{
    const MetadataOverrides& v = *m_values;
    if (pairs & kBPMPair) {
        QVariantMap bpm;
        for (const auto& [path, value] : v.bpmOverrides)
            bpm.insert(QString::fromStdString(path), qint64(value));
        m_store.setValue(key(kFileBPMOverridesKey), bpm);
        m_store.setValue(key(kFileBPMClearedKey), toList(v.clearedBPMPaths));
    }
    if (pairs & kKeyPair) {
        QVariantMap keys;
        for (const auto& [path, value] : v.keyOverrides)
            keys.insert(QString::fromStdString(path), QString::fromStdString(value));
        m_store.setValue(key(kFileKeyOverridesKey), keys);
        m_store.setValue(key(kFileKeyClearedKey), toList(v.clearedKeyPaths));
    }
}

} // namespace kivo::index
