// The option parser, called again and again in one process, against a plain model of POSIX
// getopt with the option string "acdgmtTvwj:l:" and of a first word "--help" or "--version".
// Properties: the outcome is the model's; a run has exactly one mode, the list path is the
// first word that is not an option, the files are every word after it as they are (so nothing
// after the first operand is taken for an option), and the flags and the banner path are
// those of the options before it.

#include "checksum/parallel_reader.h"
#include "cli/options.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace zantra
{
namespace
{

struct Model {
    ParseOutcome outcome = ParseOutcome::usage;
    RunOptions options;
};

// The number of workers `text` asks for, into `jobs`: 1 to 256 decimal digits' worth, or 0 for
// one per processor online; false for anything else.
bool model_jobs(const std::string& text, int& jobs)
{
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) > 256)
        return false;
    jobs = std::stoi(text) == 0 ? processors_online() : std::stoi(text);
    return true;
}

// Reads the options the way POSIX describes getopt, one word after another.
Model model_of(const std::vector<std::string>& words)
{
    Model model;
    RunOptions& options = model.options;
    if (words.size() > 1 && (words[1] == "--help" || words[1] == "--version")) {
        model.outcome = words[1] == "--help" ? ParseOutcome::help : ParseOutcome::version;
        return model;
    }
    std::size_t i = 1;
    bool any_option = false;
    for (; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            if (!any_option)
                return model; // getopt ended at once: no option at all
            ++i;
            break;
        }
        if (word.size() < 2 || word[0] != '-')
            break;
        any_option = true;
        for (std::size_t at = 1; at < word.size(); ++at) {
            const char letter = word[at];
            if (letter == 'l' || letter == 'j') {
                std::string argument;
                if (at + 1 < word.size())
                    argument = word.substr(at + 1);
                else if (i + 1 < words.size())
                    argument = words[++i];
                else
                    return model; // without its argument
                if (letter == 'l') {
                    options.use_banner = true;
                    options.banner_path = argument;
                } else if (!model_jobs(argument, options.jobs)) {
                    return model; // a bad number of workers
                }
                break;
            }
            switch (letter) {
            case 'c': options.mode = MODE_CREATE; break;
            case 't': options.mode = MODE_TEST_FILES; break;
            case 'T': options.mode = MODE_TEST_LIST; break;
            case 'm': options.mode = MODE_COUNT_MISSING; break;
            case 'a': options.add_all_files = true; break;
            case 'd': options.add_dates = true; break;
            case 'g': options.glftpd_mode = true; break;
            case 'w': options.win_sfv_mode = true; break;
            case 'v': model.outcome = ParseOutcome::version; return model;
            default: return model; // an unknown letter
            }
            if (letter == 'c' || letter == 't' || letter == 'T' || letter == 'm')
                ++options.mode_count;
        }
    }
    if (!any_option || i >= words.size() || options.mode_count != 1)
        return model;
    options.list_path = words[i];
    options.files.assign(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
    model.outcome = ParseOutcome::run;
    return model;
}

// Up to 12 words after "zantra", cut at NUL bytes; short words of few letters, so that
// options, "--", "-" and operands all come often.
std::vector<std::string> words_of(std::string_view input)
{
    std::vector<std::string> words{"zantra"};
    while (!input.empty() && words.size() < 13) {
        const std::size_t end = input.find('\0');
        words.emplace_back(input.substr(0, end));
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    return words;
}

// parse_command_line with getopt's diagnostics, which are not what is tested here, sent to
// /dev/null; standard error itself stays open for the fuzzer's reports.
ParsedCommandLine parse_quietly(int argc, char* argv[])
{
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ParsedCommandLine parsed = parse_command_line(argc, argv);
    std::fflush(stderr);
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    return parsed;
}

} // namespace
} // namespace zantra

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zantra;
    std::vector<std::string> words =
        words_of(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const Model model = model_of(words);
    // Twice, to show that one parse leaves nothing behind for the next.
    for (int round = 0; round < 2; ++round) {
        const ParsedCommandLine parsed = parse_quietly(static_cast<int>(words.size()), argv.data());
        FUZZ_CHECK(parsed.outcome == model.outcome);
        if (parsed.outcome != ParseOutcome::run)
            continue;
        const RunOptions& got = parsed.options;
        const RunOptions& want = model.options;
        FUZZ_CHECK(got.mode_count == 1 && got.mode != MODE_NONE);
        FUZZ_CHECK(got.mode == want.mode);
        FUZZ_CHECK(got.list_path == want.list_path);
        FUZZ_CHECK(got.files == want.files);
        FUZZ_CHECK(got.add_all_files == want.add_all_files && got.add_dates == want.add_dates &&
                   got.glftpd_mode == want.glftpd_mode && got.win_sfv_mode == want.win_sfv_mode);
        FUZZ_CHECK(got.use_banner == want.use_banner && got.banner_path == want.banner_path);
        FUZZ_CHECK(got.jobs == want.jobs);
        // The words passed in are left as they were: nothing was moved behind the operands.
        for (std::size_t i = 0; i < words.size(); ++i)
            FUZZ_CHECK(argv[i] == words[i].data());
    }
    return 0;
}
