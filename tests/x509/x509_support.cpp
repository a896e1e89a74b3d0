#include "x509_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace x509test {

namespace {
bool isDer(const std::string &name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".der") == 0;
}
}  // namespace

std::string x509Tool(const std::string &name, const std::string &args) {
    int status = 0;
    std::string out = tqtest::run("openssl x509 -noout -inform " + std::string(isDer(name) ? "DER" : "PEM") +
                                      " -in '" + path(name) + "' " + args + " 2>/dev/null",
                                  &status);
    EXPECT_EQ(status, 0) << "openssl x509 " << args << " on " << name;
    return out;
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        size_t end = line.find_last_not_of(" \r");
        out.push_back(line.substr(start, end - start + 1));
    }
    return out;
}

std::string escaped(const unsigned char *data, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = data[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string text(const TQXCRYPT_BLOB &blob) {
    return blob.data ? std::string(reinterpret_cast<const char *>(blob.data), blob.length) : std::string();
}

std::string dump(const TQXCRYPT_ATTRIBUTES &list, int indent) {
    EXPECT_GE(list.count, 0);
    EXPECT_EQ(list.items == nullptr, list.count == 0) << "items must be null exactly when the list is empty";
    std::string out;
    for (int32_t i = 0; list.items && i < list.count; ++i) {
        const TQXCRYPT_ATTRIBUTE &item = list.items[i];
        EXPECT_TRUE(item.isList == 0 || item.isList == 1) << item.isList;
        EXPECT_NE(item.name, nullptr);
        out += std::string(indent, ' ') + (item.name ? item.name : "<unnamed>");
        if (item.isList) {
            out += ":\n" + dump(item.value.list, indent + 2);
            continue;
        }
        const TQXCRYPT_BLOB &blob = item.value.blob;
        if (blob.data) {
            EXPECT_EQ(blob.data[blob.length], 0) << "blob of " << item.name << " without its NUL";
        }
        out += "=" + (blob.data ? escaped(blob.data, blob.length) : std::string("<none>")) + "\n";
    }
    return out;
}

const std::vector<std::pair<int, std::string>> &keyUsageNames() {
    static const std::vector<std::pair<int, std::string>> names = {
        {0x80, "Digital Signature"}, {0x40, "Non Repudiation"}, {0x20, "Key Encipherment"},
        {0x10, "Data Encipherment"}, {0x08, "Key Agreement"},   {0x04, "Certificate Sign"},
        {0x02, "CRL Sign"},          {0x01, "Encipher Only"},   {0x8000, "Decipher Only"}};
    return names;
}

int listOf(TQXCRYPT_HANDLE *cert, const char *type, ListOwner &out, int *critical) {
    return TQXCrypt_CertGetExtension(cert, type, 0, &out.list, critical);
}

}  // namespace x509test
