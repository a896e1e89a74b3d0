// A file's bytes or text, for the benches' set-up: empty when it cannot be
// read, which the decoding after it then reports.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tqbench {

inline std::string fileText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<unsigned char> fileBytes(const std::string &path) {
    const std::string text = fileText(path);
    return std::vector<unsigned char>(text.begin(), text.end());
}

}  // namespace tqbench
