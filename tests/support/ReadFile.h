#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace kivo::test {

// The whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace kivo::test
