#include "organise/MetadataMenuInfo.h"

#include "music/MusicalKey.h"

namespace kivo::organise {

namespace {

// The field's title and, when every item shows the same text, that text. `valueOf` gives an item's
// shown value or none.
template <class ValueOf>
std::pair<std::string, std::optional<std::string>> field(
    const std::vector<MetadataMenuItem>& items, const std::string& label, ValueOf valueOf)
{
    bool any = false;
    bool same = true;
    std::optional<std::string> shared;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::optional<std::string> value = valueOf(items[i]);
        any = any || value.has_value();
        if (i == 0)
            shared = value;
        else if (value != shared)
            same = false;
    }
    return { (any ? "Edit " : "Add ") + label, any && same ? shared : std::nullopt };
}

} // namespace

MetadataMenuInfo metadataMenuInfo(const std::vector<MetadataMenuItem>& items, music::KeySpelling spelling)
{
    const auto [bpmTitle, bpmValue] = field(items, "BPM", [](const MetadataMenuItem& item) {
        return item.bpm ? std::optional<std::string>(std::to_string(*item.bpm)) : std::nullopt;
    });
    const auto [keyTitle, keyValue] = field(items, "Key", [&](const MetadataMenuItem& item) {
        const auto key = item.key ? music::MusicalKey::parse(*item.key) : std::nullopt;
        return key ? std::optional<std::string>(key->displayName(spelling)) : std::nullopt;
    });
    const auto [tagsTitle, tagsValue] = field(items, "Tags", [](const MetadataMenuItem& item) {
        if (item.tagNames.empty())
            return std::optional<std::string>();
        std::string joined;
        for (const auto& name : item.tagNames)
            joined += (joined.empty() ? "" : ", ") + name;
        return std::optional<std::string>(joined);
    });
    return { bpmTitle, bpmValue, keyTitle, keyValue, tagsTitle, tagsValue };
}

} // namespace kivo::organise
