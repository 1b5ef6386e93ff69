// Runs a fuzz target over files and directories of files without libFuzzer, so that the
// committed corpus is a plain test under any compiler.

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

bool read_whole(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    std::uint8_t buffer[65536];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    close(fd);
    return got == 0;
}

// Feeds `path`, or every file below it; returns how many inputs ran, or -1 on a read failure.
long replay(const std::string& path)
{
    struct stat info {
    };
    if (stat(path.c_str(), &info) != 0)
        return -1;
    if (!S_ISDIR(info.st_mode)) {
        std::vector<std::uint8_t> bytes;
        if (!read_whole(path, bytes))
            return -1;
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        return 1;
    }
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr)
        return -1;
    long count = 0;
    while (const struct dirent* item = readdir(directory)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..")
            continue;
        const long more = replay(path + "/" + name);
        if (more < 0) {
            count = -1;
            break;
        }
        count += more;
    }
    closedir(directory);
    return count;
}

} // namespace

int main(int argc, char* argv[])
{
    long total = 0;
    for (int i = 1; i < argc; ++i) {
        const long count = replay(argv[i]);
        if (count < 0) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        total += count;
    }
    std::printf("%ld inputs replayed\n", total);
    // A corpus that holds nothing proves nothing.
    return total > 0 ? 0 : 1;
}
