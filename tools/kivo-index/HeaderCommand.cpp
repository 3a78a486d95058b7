// kivo-index header: the tempo, key and length a scan reads from each file's own header.

#include "common/Subcommand.h"

#include "index/HeaderMetadata.h"

#include <cstdio>

using namespace kivo::index;

namespace {

int header(const std::vector<std::string>& args)
{
    if (args.empty()) {
        std::fprintf(stderr, "usage: kivo-index header FILE...\n");
        return 2;
    }
    for (const auto& path : args) {
        const HeaderMetadata values = readHeaderMetadata(path);
        std::printf("%s\tbpm=", path.c_str());
        if (values.bpm)
            std::printf("%lld", (long long)*values.bpm);
        else
            std::printf("-");
        std::printf("\tkey=%s\tduration=", values.key ? values.key->c_str() : "-");
        if (values.duration)
            std::printf("%.6f\n", *values.duration);
        else
            std::printf("-\n");
    }
    return 0;
}

const kivo::tools::SubcommandRegistrar registrar(
    "header", "header FILE...  tempo, key and duration read from each file's header", header);

} // namespace
