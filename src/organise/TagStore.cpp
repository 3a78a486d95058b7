#include "organise/TagStore.h"

#include "organise/LightweightNode.h"
#include "platform/MainThread.h"
#include "platform/PreferenceStore.h"

#include <algorithm>
#include <unordered_set>

namespace kivo::organise {

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

struct TagIdHash {
    std::size_t operator()(const TagId& id) const noexcept { return NodeIdHash {}(id); }
};

TagMap readMap(const platform::PreferenceStore& store, const char* name)
{
    TagMap out;
    const auto dict = store.dictValue(key(name));
    if (!dict)
        return out;
    for (auto it = dict->begin(); it != dict->end(); ++it) {
        if (it.value().typeId() != QMetaType::QVariantList)
            continue;
        TagIdSet ids;
        for (const QVariant& text : it.value().toList())
            if (text.typeId() == QMetaType::QString)
                if (const auto id = index::Uuid::parse(text.toString().toStdString()))
                    ids.insert(*id);
        if (!ids.empty())
            out.emplace(it.key().toStdString(), std::move(ids));
    }
    return out;
}

QVariantMap toDict(const TagMap& map)
{
    QVariantMap out;
    for (const auto& [path, ids] : map) {
        QVariantList list;
        for (const TagId& id : ids)
            list << QString::fromStdString(id.text());
        out.insert(QString::fromStdString(path), list);
    }
    return out;
}

std::vector<SampleTag> readTags(const platform::PreferenceStore& store)
{
    std::vector<SampleTag> out;
    const auto list = store.arrayValue(key(kSampleTagsKey));
    if (!list)
        return out;
    std::unordered_set<TagId, TagIdHash> seen;
    for (const QVariant& item : *list) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = item.toMap();
        const QVariant id = entry.value(QStringLiteral("id"));
        const QVariant name = entry.value(QStringLiteral("name"));
        if (id.typeId() != QMetaType::QString || name.typeId() != QMetaType::QString
            || name.toString().isEmpty())
            continue;
        const auto uuid = index::Uuid::parse(id.toString().toStdString());
        // A second entry with the same id would make two buttons for one tag: the first one stands.
        if (!uuid || !seen.insert(*uuid).second)
            continue;
        out.push_back({ *uuid, name.toString().toStdString() });
    }
    return out;
}

} // namespace

std::string tagButtonHelp(const std::string& name, TagButtonState state)
{
    switch (state) {
    case TagButtonState::mixed:
        return name + " \u2014 on some of the selection";
    case TagButtonState::inherited:
        return name + " \u2014 inherited from a folder above; click to remove it here";
    default:
        return name;
    }
}

std::string deleteTagTitle(const std::string& name)
{
    return "Delete \"" + name + "\"?";
}

TagStore::TagStore(platform::PreferenceStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store)
{
    reload();
}

void TagStore::reload()
{
    KIVO_MAIN_THREAD();
    setTags(readTags(m_store));
    setMaps({ readMap(m_store, kFileTagAssignmentsKey), readMap(m_store, kFileTagExclusionsKey) });
}

const SampleTag* TagStore::tag(const TagId& id) const
{
    const auto it
        = std::find_if(m_tags.begin(), m_tags.end(), [&](const SampleTag& t) { return t.id == id; });
    return it == m_tags.end() ? nullptr : &*it;
}

std::vector<std::string> TagStore::names(const TagIdSet& ids) const
{
    std::vector<std::string> out;
    if (ids.empty())
        return out;
    for (const SampleTag& t : m_tags)
        if (ids.contains(t.id))
            out.push_back(t.name);
    return out;
}

TagButtonState TagStore::buttonState(const TagId& id, const std::vector<std::string>& paths) const
{
    // Every item has the tag: "inherited" only when none of them has it of its own, so a click on
    // a partly direct tag reads as taking it away everywhere.
    int with = 0;
    int inheritedOnly = 0;
    for (const auto& path : paths) {
        if (!effectiveTags(path).contains(id))
            continue;
        ++with;
        const auto given = m_maps->assignments.find(path);
        if (given == m_maps->assignments.end() || !given->second.contains(id))
            ++inheritedOnly;
    }
    if (with == 0)
        return TagButtonState::off;
    if (with < int(paths.size()))
        return TagButtonState::mixed;
    return inheritedOnly == with ? TagButtonState::inherited : TagButtonState::on;
}

void TagStore::setTag(const TagId& id, TagChoice choice, const std::vector<std::string>& paths)
{
    KIVO_MAIN_THREAD();
    TagMaps next = *m_maps;
    applySetTag(next, id, choice, paths);
    setMaps(std::move(next));
    saveMaps();
}

void TagStore::clearTags(const std::vector<std::string>& paths)
{
    KIVO_MAIN_THREAD();
    TagMaps next = *m_maps;
    applyClearTags(next, paths);
    setMaps(std::move(next));
    saveMaps();
}

std::optional<TagId> TagStore::createTag(const std::string& name)
{
    KIVO_MAIN_THREAD();
    std::vector<std::string> others;
    for (const SampleTag& t : m_tags)
        others.push_back(t.name);
    const std::string clean = uniqueTagName(cleanTagName(name), others);
    if (clean.empty())
        return std::nullopt;
    std::vector<SampleTag> next = m_tags;
    next.push_back({ newNodeId(), clean });
    const TagId id = next.back().id;
    setTags(std::move(next));
    saveTags();
    return id;
}

void TagStore::renameTag(const TagId& id, const std::string& newName)
{
    KIVO_MAIN_THREAD();
    const SampleTag* current = tag(id);
    if (!current)
        return;
    std::vector<std::string> others;
    for (const SampleTag& t : m_tags)
        if (!(t.id == id))
            others.push_back(t.name);
    const std::string name = uniqueTagName(cleanTagName(newName), others);
    if (name.empty() || name == current->name)
        return;
    std::vector<SampleTag> next = m_tags;
    for (SampleTag& t : next)
        if (t.id == id)
            t.name = name;
    setTags(std::move(next));
    saveTags();
}

void TagStore::moveTag(const TagId& id, int toIndex)
{
    KIVO_MAIN_THREAD();
    const auto it
        = std::find_if(m_tags.begin(), m_tags.end(), [&](const SampleTag& t) { return t.id == id; });
    if (it == m_tags.end() || m_tags.empty())
        return;
    const int from = int(it - m_tags.begin());
    const int to = std::clamp(toIndex, 0, int(m_tags.size()) - 1);
    if (from == to)
        return;
    std::vector<SampleTag> next = m_tags;
    SampleTag moved = next[std::size_t(from)];
    next.erase(next.begin() + from);
    next.insert(next.begin() + to, std::move(moved));
    setTags(std::move(next));
    saveTags();
}

void TagStore::deleteTag(const TagId& id)
{
    KIVO_MAIN_THREAD();
    std::vector<SampleTag> next = m_tags;
    std::erase_if(next, [&](const SampleTag& t) { return t.id == id; });
    TagMaps maps = *m_maps;
    removeTagEverywhere(maps, id);
    setTags(std::move(next));
    setMaps(std::move(maps));
    saveTags();
    saveMaps();
}

void TagStore::remapPaths(const std::string& oldPath, const std::string& newPath)
{
    KIVO_MAIN_THREAD();
    TagMaps next = *m_maps;
    if (!remapTagPaths(next, oldPath, newPath))
        return;
    setMaps(std::move(next));
    saveMaps();
}

void TagStore::setTags(std::vector<SampleTag> next)
{
    if (next == m_tags)
        return;
    m_tags = std::move(next);
    emit tagsChanged();
    emit changed();
}

void TagStore::setMaps(TagMaps next)
{
    const bool a = next.assignments != m_maps->assignments;
    const bool e = next.exclusions != m_maps->exclusions;
    if (!a && !e)
        return;
    m_maps = std::make_shared<const TagMaps>(std::move(next));
    if (a)
        emit assignmentsChanged();
    if (e)
        emit exclusionsChanged();
    emit changed();
}

void TagStore::saveTags()
{
    QVariantList list;
    for (const SampleTag& t : m_tags) {
        if (t.name.empty())
            continue;
        QVariantMap entry;
        entry.insert(QStringLiteral("id"), QString::fromStdString(t.id.text()));
        entry.insert(QStringLiteral("name"), QString::fromStdString(t.name));
        list << entry;
    }
    m_store.setValue(key(kSampleTagsKey), list);
}

void TagStore::saveMaps()
{
    m_store.setValue(key(kFileTagAssignmentsKey), toDict(m_maps->assignments));
    m_store.setValue(key(kFileTagExclusionsKey), toDict(m_maps->exclusions));
}

} // namespace kivo::organise
