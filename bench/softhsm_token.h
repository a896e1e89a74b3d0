// A SoftHSM2 token of a benchmark's own ("bench", user PIN 123456) in a
// temporary directory that goes with the object.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tqbench {

class SoftToken {
public:
    SoftToken() {
        if (!mkdtemp(dir_)) std::exit(1);
        const std::string conf = path("softhsm2.conf");
        FILE *f = std::fopen(conf.c_str(), "w");
        if (!f) std::exit(1);
        std::fprintf(f, "directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n",
                     dir_);
        std::fclose(f);
        setenv("SOFTHSM2_CONF", conf.c_str(), 1);
        run("mkdir -p " + path("tokens") +
            " && " TQ_SOFTHSM_UTIL
            " --init-token --free --label bench --so-pin 87654321 --pin 123456 >/dev/null");
    }
    ~SoftToken() { std::system((std::string("rm -rf ") + dir_).c_str()); }
    SoftToken(const SoftToken &) = delete;
    SoftToken &operator=(const SoftToken &) = delete;

    std::string dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir() + "/" + name; }
    // Runs a shell command; the bench ends when it fails.
    static void run(const std::string &command) {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
    }

private:
    char dir_[32] = "/tmp/tqbench.XXXXXX";
};

}  // namespace tqbench
