#pragma once

// A tiny registry so each subcommand of a multi-command tool lives in its own
// file and registers itself; adding one never touches a shared dispatch table.

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kivo::tools {

using SubcommandMain = std::function<int(const std::vector<std::string>& args)>;

struct SubcommandInfo {
    std::string usage; // one line, shown by --help
    SubcommandMain run;
};

inline std::map<std::string, SubcommandInfo>& subcommands()
{
    static std::map<std::string, SubcommandInfo> table;
    return table;
}

struct SubcommandRegistrar {
    SubcommandRegistrar(const char* name, const char* usage, SubcommandMain run)
    {
        subcommands()[name] = SubcommandInfo { usage, std::move(run) };
    }
};

// Returns the process exit status: 2 for a usage error.
inline int dispatchSubcommand(const char* tool, int argc, char** argv)
{
    auto printUsage = [&](std::FILE* to) {
        std::fprintf(to, "usage: %s COMMAND [options]\n\ncommands:\n", tool);
        for (const auto& [name, info] : subcommands())
            std::fprintf(to, "  %s\n", info.usage.c_str());
    };
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return 0;
    }
    auto it = subcommands().find(name);
    if (it == subcommands().end()) {
        std::fprintf(stderr, "%s: unknown command '%s'\n", tool, name.c_str());
        printUsage(stderr);
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return it->second.run(args);
}

} // namespace kivo::tools
