// The command line parsed in-process: outcomes, modes, flags and operands.

#include "checksum/parallel_reader.h"
#include "cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zantra
{
namespace
{

// Parses the words after "zantra", keeping getopt's diagnostics out of the test output.
ParsedCommandLine parse(std::vector<std::string> words, std::string* diagnostic = nullptr)
{
    words.insert(words.begin(), "zantra");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    ParsedCommandLine parsed = parse_command_line(static_cast<int>(words.size()), argv.data());
    const std::string err = testing::internal::GetCapturedStderr();
    if (diagnostic != nullptr)
        *diagnostic = err;
    return parsed;
}

TEST(Options, Outcomes)
{
    struct Case {
        std::vector<std::string> words;
        ParseOutcome outcome;
    };
    const Case cases[] = {
        {{}, ParseOutcome::usage},
        {{"list.sfv"}, ParseOutcome::usage},             // no option at all
        {{"list.sfv", "-c"}, ParseOutcome::usage},       // options end at the first operand
        {{"--", "-c", "list.sfv"}, ParseOutcome::usage}, // "--" is the end already
        {{"-c", "-t", "list.sfv"}, ParseOutcome::usage},
        {{"-cc", "list.sfv"}, ParseOutcome::usage},
        {{"-c"}, ParseOutcome::usage},             // no operand
        {{"-a", "list.sfv"}, ParseOutcome::usage}, // no mode
        {{"-x", "-c", "list.sfv"}, ParseOutcome::usage},
        {{"-c", "list.sfv", "-l"}, ParseOutcome::run},
        {{"-c", "-l"}, ParseOutcome::usage},
        {{"-v"}, ParseOutcome::version},
        {{"-c", "-v", "list.sfv"}, ParseOutcome::version},
        {{"-v", "-x"}, ParseOutcome::version}, // options after -v are never read
        {{"-x", "-v"}, ParseOutcome::usage},
        {{"-c", "-t", "-v"}, ParseOutcome::version},
        {{"-c", "list.sfv"}, ParseOutcome::run},
        {{"-c", "--", "-list.sfv"}, ParseOutcome::run},
        {{"-c", "-j"}, ParseOutcome::usage}, // -j takes the next word, here none
        {{"-c", "-j", "x", "list.sfv"}, ParseOutcome::usage},
        {{"-c", "-j", "257", "list.sfv"}, ParseOutcome::usage},
        {{"-c", "-j", "+2", "list.sfv"}, ParseOutcome::usage},
        {{"-m", "-j3", "list.sfv"}, ParseOutcome::run},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const auto& w : c.words)
            joined += w + ' ';
        EXPECT_EQ(parse(c.words).outcome, c.outcome) << joined;
    }
}

TEST(Options, ModesFlagsAndOperands)
{
    const ParsedCommandLine parsed =
        parse({"-cwa", "-d", "-lbanner.nfo", "-l", "logo.nfo", "-g", "rel.sfv", "-t", "x.r00"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::run);
    const RunOptions& o = parsed.options;
    EXPECT_EQ(o.mode, MODE_CREATE);
    EXPECT_EQ(o.mode_count, 1);
    EXPECT_TRUE(o.win_sfv_mode && o.add_all_files && o.add_dates && o.glftpd_mode && o.use_banner);
    EXPECT_EQ(o.banner_path, "logo.nfo");
    EXPECT_EQ(o.list_path, "rel.sfv");
    EXPECT_EQ(o.files, (std::vector<std::string>{"-t", "x.r00"}));

    const struct {
        std::string option;
        Mode mode;
    } modes[] = {{"-c", MODE_CREATE},
                 {"-t", MODE_TEST_FILES},
                 {"-T", MODE_TEST_LIST},
                 {"-m", MODE_COUNT_MISSING}};
    for (const auto& m : modes) {
        const ParsedCommandLine one = parse({m.option, "list.sfv"});
        EXPECT_EQ(one.options.mode, m.mode) << m.option;
        EXPECT_FALSE(one.options.glftpd_mode);
        EXPECT_TRUE(one.options.files.empty());
    }
}

TEST(Options, JobsFromDashJ)
{
    const struct {
        std::vector<std::string> words;
        int jobs;
    } cases[] = {
        {{"-c", "list.sfv"}, 1},
        {{"-c", "-j", "4", "list.sfv"}, 4},
        {{"-cj256", "list.sfv"}, 256},
        {{"-j", "007", "-T", "list.sfv"}, 7},
        {{"-j", "2", "-j1", "-c", "list.sfv"}, 1}, // the last one counts
        {{"-c", "-j", "0", "list.sfv"}, processors_online()},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = parse(c.words);
        ASSERT_EQ(parsed.outcome, ParseOutcome::run) << c.words[1];
        EXPECT_EQ(parsed.options.jobs, c.jobs) << c.words[1];
    }
}

TEST(Options, LongWordsAreKeptWhole)
{
    const std::string long_path(300, 'p');
    const std::string long_banner(400, 'b');
    const ParsedCommandLine parsed =
        parse({"-c", "-l", long_banner, long_path, long_path + ".r00"});
    ASSERT_EQ(parsed.outcome, ParseOutcome::run);
    EXPECT_EQ(parsed.options.list_path, long_path);
    EXPECT_EQ(parsed.options.banner_path, long_banner);
    EXPECT_EQ(parsed.options.files, (std::vector<std::string>{long_path + ".r00"}));
}

TEST(Options, GetoptDiagnosticsStayEnabled)
{
    std::string diagnostic;
    EXPECT_EQ(parse({"-x", "list.sfv"}, &diagnostic).outcome, ParseOutcome::usage);
    EXPECT_NE(diagnostic.find('x'), std::string::npos) << diagnostic;
    EXPECT_EQ(parse({"-c", "-l"}, &diagnostic).outcome, ParseOutcome::usage);
    EXPECT_NE(diagnostic.find('l'), std::string::npos) << diagnostic;
}

} // namespace
} // namespace zantra
