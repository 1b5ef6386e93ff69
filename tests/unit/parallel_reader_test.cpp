// The parallel reader gives, file for file and in order, what crc32_of_file_quietly gives.

#include "checksum/file_checksum.h"
#include "checksum/parallel_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace zantra
{
namespace
{

// A directory of files of sizes around a small piece size, with a missing name and a
// directory among them; removed when the test ends.
struct Release {
    std::string root;
    std::vector<ReadRequest> requests;
    Release()
    {
        char name[] = "/tmp/zantra-reader-XXXXXX";
        EXPECT_NE(mkdtemp(name), nullptr);
        root = name;
        std::mt19937 generator(26);
        const std::size_t sizes[] = {0, 1, 999, 1000, 1001, 3500, 2 * READ_CHUNK + 7, 5, 4000};
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            const std::string path = root + "/f" + std::to_string(i);
            std::FILE* file = std::fopen(path.c_str(), "wb");
            for (std::size_t k = 0; k < sizes[i]; ++k)
                std::fputc(static_cast<int>(generator() & 0xFF), file);
            EXPECT_EQ(std::fclose(file), 0);
            requests.push_back({path});
            if (i == 2)
                requests.push_back({root + "/gone"});
            if (i == 5)
                requests.push_back({root});
        }
    }
    ~Release()
    {
        for (const ReadRequest& request : requests)
            if (request.path != root)
                unlink(request.path.c_str());
        rmdir(root.c_str());
    }
};

TEST(ParallelReader, GivesWhatTheWholeFileReadGivesInOrder)
{
    const Release release;
    for (const int jobs : {1, 2, 4, 9}) {
        ParallelReader reader(release.requests, jobs, 1000);
        for (std::size_t i = 0; i < release.requests.size(); ++i) {
            FileIdentity identity;
            const auto crc = crc32_of_file_quietly(release.requests[i].path, &identity);
            const FileChecksum got = reader.take(i);
            EXPECT_EQ(got.crc, crc) << jobs << " jobs, file " << i;
            EXPECT_EQ(got.identity.inode, identity.inode) << jobs << " jobs, file " << i;
            EXPECT_EQ(got.identity.size, identity.size) << jobs << " jobs, file " << i;
        }
    }
}

TEST(ParallelReader, FilesPassedOverOrLeftUntakenEndCleanly)
{
    const Release release;
    ParallelReader reader(release.requests, 3, 1000);
    const std::size_t last = release.requests.size() - 1;
    EXPECT_EQ(reader.take(last).crc, crc32_of_file_quietly(release.requests[last].path));
    ParallelReader untaken(release.requests, 3, 1000);
}

} // namespace
} // namespace zantra
