// kivo-index search: the browser's search over a cache file with its filters, one path per line in
// result order. The user's tempo and key corrections and tags come from a preference file.

#include "common/Subcommand.h"

#include "index/CacheIndexStore.h"
#include "index/MetadataOverrideStore.h"
#include "music/MusicalKey.h"
#include "organise/BrowserFileOrder.h"
#include "organise/FilterResults.h"
#include "organise/MetadataInheritance.h"
#include "organise/TagStore.h"
#include "platform/PreferenceStore.h"

#include <charconv>
#include <cstdio>
#include <string_view>

using namespace kivo;

namespace {

constexpr const char* kUsage
    = "search [QUERY] [--cache FILE] [--prefs FILE] [--collection ID] [--folders] [--no-folder-names]\n"
      "           [--bpm N | --bpm MIN-MAX | --bpm -MAX] [--key KEY] [--relative] [--tag NAME]...\n"
      "           [--shuffle SEED] [--long]   files (or folders) matching and passing the filters";

int usage()
{
    std::fprintf(stderr, "usage: kivo-index %s\n", kUsage);
    return 2;
}

template <class T> std::optional<T> number(std::string_view text)
{
    T value {};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "120" is the minimum alone (an exact tempo), "100-128" both bounds, "-120" the maximum alone.
bool parseBPM(std::string_view text, organise::SearchFilters& filters)
{
    const auto dash = text.find('-');
    if (dash == std::string_view::npos) {
        filters.minBPM = number<std::int64_t>(text);
        return filters.minBPM.has_value();
    }
    filters.maxBPM = number<std::int64_t>(text.substr(dash + 1));
    if (dash > 0)
        filters.minBPM = number<std::int64_t>(text.substr(0, dash));
    return filters.maxBPM && (dash == 0 || filters.minBPM);
}

// A key as the browser reads one; written without a mode ("A", "F#") it matches either mode.
std::optional<organise::KeyFilter> parseKey(std::string_view text)
{
    const auto key = music::MusicalKey::parse(text);
    if (!key)
        return std::nullopt;
    organise::KeyFilter filter { key->pitchClass, key->isMinor, false };
    std::string_view rest = text.substr(text.find_first_not_of(" \t"));
    // A wheel code ("8A") always names its mode.
    if (!(rest.front() >= '0' && rest.front() <= '9')) {
        rest.remove_prefix(1);
        for (const std::string_view accidental : { "#", "b", "\u266F", "\u266D" })
            if (rest.starts_with(accidental)) {
                rest.remove_prefix(accidental.size());
                break;
            }
        if (rest.find_first_not_of(" \t") == std::string_view::npos)
            filter.isMinor.reset();
    }
    return filter;
}

std::string orDash(const std::optional<std::string>& text)
{
    return text && !text->empty() ? *text : "-";
}

int searchCommand(const std::vector<std::string>& args)
{
    std::string query, cache, collection, prefsPath;
    std::vector<std::string> tagNames;
    organise::SearchRequest request;
    organise::SearchFilters& filters = request.filters;
    bool haveQuery = false, relative = false, longForm = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--cache" && hasValue)
            cache = args[++i];
        else if (a == "--prefs" && hasValue)
            prefsPath = args[++i];
        else if (a == "--collection" && hasValue)
            collection = args[++i];
        else if (a == "--folders")
            filters.mode = organise::FilterMode::folder;
        else if (a == "--no-folder-names")
            request.includeFolderNames = false;
        else if (a == "--bpm" && hasValue) {
            if (!parseBPM(args[++i], filters))
                return usage();
        } else if (a == "--key" && hasValue) {
            filters.key = parseKey(args[++i]);
            if (!filters.key) {
                std::fprintf(stderr, "not a key: %s\n", args[i].c_str());
                return 2;
            }
        } else if (a == "--relative")
            relative = true;
        else if (a == "--tag" && hasValue)
            tagNames.push_back(args[++i]);
        else if (a == "--shuffle" && hasValue) {
            filters.shuffleSeed = number<std::uint64_t>(args[++i]);
            if (!filters.shuffleSeed)
                return usage();
        } else if (a == "--long")
            longForm = true;
        else if (!haveQuery && !a.starts_with("--")) {
            query = a;
            haveQuery = true;
        } else
            return usage();
    }
    if (relative) {
        if (!filters.key)
            return usage();
        filters.key->includeRelative = true;
    }

    platform::PreferenceStore prefs(
        prefsPath.empty() ? platform::PreferenceStore::defaultFilePath() : QString::fromStdString(prefsPath));
    const index::MetadataOverrideStore overrideStore(prefs);
    const organise::TagStore tagStore(prefs);
    bool unknownTag = false;
    for (const auto& name : tagNames) {
        const auto wanted = QString::fromStdString(name);
        const auto found = std::find_if(tagStore.tags().begin(), tagStore.tags().end(), [&](const auto& tag) {
            return QString::fromStdString(tag.name).compare(wanted, Qt::CaseInsensitive) == 0;
        });
        if (found == tagStore.tags().end()) {
            // No item carries a tag that does not exist: nothing passes.
            std::fprintf(stderr, "no tag named %s\n", name.c_str());
            unknownTag = true;
        } else {
            filters.tags.insert(found->id);
        }
    }

    index::CacheIndexStore store(
        { cache, [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, {} });
    const index::DiskSnapshot snapshot = store.loadCache();
    if (!snapshot.hasData)
        return 1;
    if (unknownTag)
        return 0;

    // Every collection in turn unless one is named; a file in overlapping collections is shown once.
    const auto named = index::Uuid::parse(collection);
    for (const auto& [group, roots] : snapshot.roots)
        if (collection.empty() || (named && named->text() == group))
            request.groups.push_back(group);
    request.query = query;
    request.order = organise::effectiveFileOrder(organise::SortingOptions {}, overrideStore.snapshot());

    organise::MetadataInheritance overrides(overrideStore.snapshot(), tagStore.maps());
    const auto results = organise::buildResults(store, request, overrides);
    if (results->needsQueryForFolders) {
        std::fprintf(stderr, "%s\n", organise::kFolderSearchPrompt);
        return 0;
    }
    for (const auto& node : organise::resultNodes(*results, overrides)) {
        if (!longForm) {
            std::printf("%s\n", node.path.c_str());
            continue;
        }
        std::string tags;
        for (const auto& name : tagStore.names(overrides.effectiveTags(node.path)))
            tags += (tags.empty() ? "" : ",") + name;
        std::printf("%s\t%s\t%s\t%s\n", node.path.c_str(), node.bpm ? std::to_string(*node.bpm).c_str() : "-",
            orDash(node.key).c_str(), orDash(tags).c_str());
    }
    return 0;
}

const tools::SubcommandRegistrar registrar("search", kUsage, searchCommand);

} // namespace
