#include "index/PathKeyed.h"

#include <vector>

namespace kivo::index {

bool remapPath(std::string_view path, std::string_view from, std::string_view to, std::string& rewritten)
{
    if (from.empty() || !path.starts_with(from))
        return false;
    std::string_view rest = path.substr(from.size());
    // "/A" covers "/A" and "/A/x" but not "/AB"; a `from` ending in "/" already ends a component.
    if (!rest.empty() && !from.ends_with('/') && rest.front() != '/')
        return false;
    rewritten.assign(to);
    if (!rest.empty() && from.ends_with('/') && !to.ends_with('/'))
        rewritten += '/';
    rewritten += rest;
    return true;
}

bool remapKeys(PathKeyedSet& set, std::string_view from, std::string_view to)
{
    if (from == to)
        return false;
    std::vector<std::string> moved;
    std::string rewritten;
    for (auto it = set.begin(); it != set.end();) {
        if (remapPath(*it, from, to, rewritten)) {
            moved.push_back(rewritten);
            it = set.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& path : moved)
        set.insert(std::move(path));
    return !moved.empty();
}

} // namespace kivo::index
