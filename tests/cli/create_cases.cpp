// -c: the console lines, the list written, and what is refused.

#include "expected_output.h"
#include "harness.h"

#include <gtest/gtest.h>

namespace zantra_cli
{
namespace
{

// The date line of a file set up by a case (FIXED_MTIME in UTC).
std::string dated(const std::string& size, const std::string& name)
{
    return "; " + std::string(12 - size.size(), ' ') + size + "  14:01.07 2004-05-06 " + name +
           "\r\n";
}

// A release of three volumes and two other files.
const std::string RAR = "rar volume contents";
const std::string R00 = "first continuation volume";
const std::string V001 = "123456789";
const std::string NFO = "release notes\n";

std::vector<Entry> release_with(std::vector<Entry> more)
{
    std::vector<Entry> all = {file("rel.rar", RAR), file("rel.r00", R00), file("rel.001", V001),
                              file("rel.nfo", NFO), file("rel.sfv", "old list\r\n")};
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// A volume modified on 2040-02-29 at 12:34:56 UTC, after 32-bit time_t ends in 2038.
Entry late_volume()
{
    Entry late = file("late.r00", V001);
    late.mtime = 2214131696;
    return late;
}

// A file of 64 MiB and one byte, all zeros, which -j reads in two pieces.
Entry two_piece_volume()
{
    Entry big = file("big.r04", "");
    big.sparse_size = (std::int64_t{64} << 20) + 1;
    return big;
}

// Good, unreadable and large volumes read by four workers: every line as with one, in order,
// each message between its progress line and its verdict.
Case four_jobs_case()
{
    const std::vector<Entry> volumes = {file("a.r00", "abc"), dir("d.r02"), fifo("f.r03"),
                                        two_piece_volume(), file("e.r05", "")};
    const std::string zeros(static_cast<std::size_t>(*two_piece_volume().sparse_size), '\0');
    const std::string missing = "Adding file: gone.r01 ... \nFatal error: cannot read file: "
                                "gone.r01\nMISSING\n";
    return on_console(
        {"FourJobsKeepEveryLineInOrder",
         volumes,
         {"-c", "-j", "4", "x.sfv", "a.r00", "gone.r01", "d.r02", "f.r03", "big.r04", "e.r05"},
         1,
         create_heading("x.sfv") + adding("a.r00", "abc") + missing +
             "Adding file: d.r02 ... \nFatal error: cannot read file: d.r02\nMISSING\n" +
             "Adding file: f.r03 ... \nFatal error: cannot read file: f.r03\nMISSING\n" +
             adding("big.r04", zeros) + adding("e.r05", "") + created(3),
         "",
         with(volumes,
              {file("x.sfv", GENERATED + entry_line("a.r00", "abc") + entry_line("big.r04", zeros) +
                                 entry_line("e.r05", ""))})},
        Console::one_pipe);
}

std::vector<Case> create_cases()
{
    const std::vector<std::string> release_files = {"rel.rar", "rel.r00", "rel.nfo", "rel.sfv",
                                                    "rel.001"};
    auto args = [&](std::vector<std::string> front) {
        front.insert(front.end(), release_files.begin(), release_files.end());
        return front;
    };
    // Paths of "./" steps that make an entry line, and a date line, of 4096 and 4097 bytes.
    const auto steps = [](int count, const std::string& name) {
        std::string path;
        for (int i = 0; i < count; ++i)
            path += "./";
        return path + name;
    };
    const std::string entry_fits = steps(2040, "a.r00"), entry_too_long = steps(2040, "ab.r00");
    const std::string date_fits = steps(2026, "d1.nfo"), date_too_long = steps(2026, "d12.nfo");
    const std::string long_list = std::string(300, 'L');
    const std::string cut_list = std::string(250, 'L');
    const std::string banner_long = std::string(300, 'b');
    const std::string banner_huge = std::string(1u << 20, 'h') + "never read\n";
    std::string banner_kept; // its first MiB: whole pieces of 249 bytes, then the last 37
    for (int piece = 0; piece < 4211; ++piece)
        banner_kept += "; " + std::string(249, 'h') + "\r\n";
    banner_kept += "; " + std::string(37, 'h') + "\r\n";

    return {
        {"ArchiveVolumesOnlyByDefault", release_with({}), args({"-c", "new.sfv"}), 0,
         create_heading("new.sfv") + adding("rel.rar", RAR) + adding("rel.r00", R00) + adding("rel.001", V001) +
             created(3),
         "",
         release_with({file("new.sfv", GENERATED + entry_line("rel.rar", RAR) + entry_line("rel.r00", R00) +
                                            entry_line("rel.001", V001))})},

        {"AllFilesWithDashA", release_with({}), args({"-ca", "new.sfv"}), 0,
         create_heading("new.sfv", "Add-all-files mode active\n") + adding("rel.rar", RAR) +
             adding("rel.r00", R00) + adding("rel.nfo", NFO) + adding("rel.sfv", "old list\r\n") +
             adding("rel.001", V001) + created(5),
         "",
         release_with({file("new.sfv", GENERATED + entry_line("rel.rar", RAR) + entry_line("rel.r00", R00) +
                                            entry_line("rel.nfo", NFO) + entry_line("rel.sfv", "old list\r\n") +
                                            entry_line("rel.001", V001))})},

        {"ExistingListIsReplaced", release_with({}), {"-c", "rel.sfv", "rel.r00"}, 0,
         create_heading("rel.sfv") + adding("rel.r00", R00) + created(1), "",
         std::vector<Entry>{file("rel.rar", RAR), file("rel.r00", R00), file("rel.001", V001),
                            file("rel.nfo", NFO), file("rel.sfv", GENERATED + entry_line("rel.r00", R00))}},

        // Its CRC would be that of the list's first lines: the list is passed over, whatever
        // its spelling.
        // The new list replaces the old one whole, so a hard link to the old one keeps it.
        {"ListNeverListsItself", release_with({hard_link("rel.lnk", "rel.sfv")}),
         {"-c", "-a", "-d", "rel.sfv", "rel.r00", "rel.sfv", "./rel.sfv", "rel.lnk"}, 0,
         create_heading("rel.sfv", "Add-all-files mode active\nAdding files' times & dates to SFV file\n") +
             adding("rel.r00", R00) + created(1),
         "",
         [] {
             const std::string list = GENERATED + dated("25", "rel.r00") + ";\r\n" + entry_line("rel.r00", R00);
             return std::vector<Entry>{file("rel.rar", RAR), file("rel.r00", R00), file("rel.001", V001),
                                       file("rel.nfo", NFO), file("rel.sfv", list), file("rel.lnk", "old list\r\n")};
         }()},

        {"ListReplacedKeepsItsMode", {file("l.sfv", "old list\r\n", 0600), file("a.r00", "abc")},
         {"-c", "l.sfv", "a.r00"}, 0, create_heading("l.sfv") + adding("a.r00", "abc") + created(1), "",
         std::vector<Entry>{file("l.sfv", GENERATED + entry_line("a.r00", "abc"), 0600), file("a.r00", "abc")}},

        {"ListNamedLikeAVolumeNeverListsItself",
         {file("Some.Release-GRP.sfv", "old"), file("Some.Release-GRP.r00", R00)},
         {"-c", "Some.Release-GRP.sfv", "Some.Release-GRP.r00", "Some.Release-GRP.sfv"}, 0,
         create_heading("Some.Release-GRP.sfv") + adding("Some.Release-GRP.r00", R00) + created(1), "",
         std::vector<Entry>{file("Some.Release-GRP.sfv", GENERATED + entry_line("Some.Release-GRP.r00", R00)),
                            file("Some.Release-GRP.r00", R00)}},

        {"WholeOperandTextIsSearched",
         {dir("release"), file("release/info.txt", "i"), dir("dir.r"), file("dir.r/info.txt", "j"),
          file("UPPER.R05", "u")},
         {"-c", "l.sfv", "release/info.txt", "dir.r/info.txt", "UPPER.R05"}, 0,
         create_heading("l.sfv") + adding("dir.r/info.txt", "j") + adding("UPPER.R05", "u") + created(2), "",
         std::vector<Entry>{dir("release"), file("release/info.txt", "i"), dir("dir.r"),
                            file("dir.r/info.txt", "j"), file("UPPER.R05", "u"),
                            file("l.sfv", GENERATED + entry_line("dir.r/info.txt", "j") +
                                              entry_line("UPPER.R05", "u"))}},

        {"NoFileOperands", {}, {"-c", "empty.sfv"}, 0, create_heading("empty.sfv") + created(0), "",
         std::vector<Entry>{file("empty.sfv", GENERATED)}},

        {"NoFileOperandsWithDatesAndBanner", {file("logo.nfo", "logo\n")},
         {"-c", "-d", "-l", "logo.nfo", "empty.sfv"}, 0,
         create_heading("empty.sfv", "Adding banner file        : logo.nfo\n"
                              "Adding files' times & dates to SFV file\n") +
             created(0),
         "",
         std::vector<Entry>{file("logo.nfo", "logo\n"), file("empty.sfv", GENERATED + "; logo\r\n;\r\n")}},

        {"OperandTwiceIsListedTwiceWithTwoDateLines", {file("a.r00", "abc")},
         {"-c", "-d", "x.sfv", "a.r00", "a.r00"}, 0,
         create_heading("x.sfv", "Adding files' times & dates to SFV file\n") + adding("a.r00", "abc") +
             adding("a.r00", "abc") + created(2),
         "",
         std::vector<Entry>{file("a.r00", "abc"),
                            file("x.sfv", GENERATED + dated("3", "a.r00") + dated("3", "a.r00") +
                                              ";\r\n" + entry_line("a.r00", "abc") + entry_line("a.r00", "abc"))}},

        {"DatesForEveryOperandEvenThoseNotListed", release_with({}), args({"-cd", "new.sfv"}), 0,
         create_heading("new.sfv", "Adding files' times & dates to SFV file\n") + adding("rel.rar", RAR) +
             adding("rel.r00", R00) + adding("rel.001", V001) + created(3),
         "",
         release_with({file("new.sfv", GENERATED + dated("19", "rel.rar") + dated("25", "rel.r00") +
                                            dated("14", "rel.nfo") + dated("10", "rel.sfv") +
                                            dated("9", "rel.001") + ";\r\n" + entry_line("rel.rar", RAR) +
                                            entry_line("rel.r00", R00) + entry_line("rel.001", V001))})},

        {"WinSfvHeader", {file("a.r00", "abc")}, {"-c", "-w", "x.sfv", "a.r00"}, 0,
         create_heading("x.sfv", "Using compatibility mode  : Win-SFV\n") + adding("a.r00", "abc") + created(1),
         "", std::vector<Entry>{file("a.r00", "abc"), file("x.sfv", GENERATED_WIN + entry_line("a.r00", "abc"))}},

        {"AllHeadingLinesInOrder", {file("a.r00", "abc"), file("logo", "l\n")},
         {"-cwadl", "logo", "x.sfv", "a.r00"}, 0,
         create_heading("x.sfv", "Adding banner file        : logo\n"
                          "Using compatibility mode  : Win-SFV\n"
                          "Add-all-files mode active\n"
                          "Adding files' times & dates to SFV file\n") +
             adding("a.r00", "abc") + created(1),
         "",
         std::vector<Entry>{file("a.r00", "abc"), file("logo", "l\n"),
                            file("x.sfv", GENERATED_WIN + "; l\r\n" + dated("3", "a.r00") + ";\r\n" +
                                              entry_line("a.r00", "abc"))}},

        {"BannerLinesCrLfEmptyAndLong",
         {file("logo", "first\r\n\n" + banner_long + "\nlast without line feed")},
         {"-c", "-l", "logo", "x.sfv"}, 0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + created(0), "",
         std::vector<Entry>{
             file("logo", "first\r\n\n" + banner_long + "\nlast without line feed"),
             file("x.sfv", GENERATED + "; first\r\r\n; \r\n; " + std::string(249, 'b') + "\r\n; " +
                               std::string(51, 'b') + "\r\n; last without line feed\r\n")}},

        {"BannerLineOfExactlyOneReadLeavesAnEmptyPiece", {file("logo", std::string(249, 'e') + "\n")},
         {"-c", "-l", "logo", "x.sfv"}, 0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + created(0), "",
         std::vector<Entry>{file("logo", std::string(249, 'e') + "\n"),
                            file("x.sfv", GENERATED + "; " + std::string(249, 'e') + "\r\n; \r\n")}},

        {"BannerIsReadUpToItsFirstMiB", {file("logo", banner_huge)}, {"-c", "-l", "logo", "x.sfv"}, 0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + created(0), "",
         std::vector<Entry>{file("logo", banner_huge), file("x.sfv", GENERATED + banner_kept)}},

        {"MissingBannerIsOmitted", {file("a.r00", "abc")}, {"-c", "-l", "nologo", "x.sfv", "a.r00"}, 0,
         create_heading("x.sfv", "Adding banner file        : nologo\n") + adding("a.r00", "abc") + created(1),
         "Oh mama! I couldn't find logo file nologo ... omitting!\n",
         std::vector<Entry>{file("a.r00", "abc"), file("x.sfv", GENERATED + entry_line("a.r00", "abc"))}},

        {"BannerThatIsADirectoryIsOmitted", {dir("logo")}, {"-c", "-l", "logo", "x.sfv"}, 0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + created(0),
         "Oh mama! I couldn't find logo file logo ... omitting!\n",
         std::vector<Entry>{dir("logo"), file("x.sfv", GENERATED)}},

        {"UnreadableOperandsGetNoEntry", {file("a.r00", "abc"), dir("d.r02")},
         {"-c", "x.sfv", "gone.r01", "a.r00", "d.r02"}, 1,
         create_heading("x.sfv") + "Adding file: gone.r01 ... MISSING\n" + adding("a.r00", "abc") +
             "Adding file: d.r02 ... MISSING\n" + created(1),
         fatal("gone.r01") + fatal("d.r02"),
         std::vector<Entry>{file("a.r00", "abc"), dir("d.r02"),
                            file("x.sfv", GENERATED + entry_line("a.r00", "abc"))}},

        {"DateLineOfAMissingOperandShowsNothingKnown", {}, {"-c", "-d", "x.sfv", "gone.r01"}, 1,
         create_heading("x.sfv", "Adding files' times & dates to SFV file\n") +
             "Adding file: gone.r01 ... MISSING\n" + created(0),
         fatal("gone.r01"),
         std::vector<Entry>{file("x.sfv", GENERATED + ";            0  00:00.00 1970-01-01 gone.r01\r\n;\r\n")}},

        {"FileWhoseCrcIsAllOnesIsListed", {file("ones.r00", std::string(4, '\xFF'))},
         {"-c", "x.sfv", "ones.r00"}, 0,
         create_heading("x.sfv") + "Adding file: ones.r00 ... CRC = 0xFFFFFFFF\n" + created(1), "",
         std::vector<Entry>{file("ones.r00", std::string(4, '\xFF')),
                            file("x.sfv", GENERATED + "ones.r00 FFFFFFFF\r\n")}},

        // The list's name forgotten: the banner's name taken for the banner, a volume's for the list.
        {"VolumeWhereTheListBelongsIsNeverOverwritten", release_with({}),
         {"-c", "-l", "rel.sfv", "rel.r00", "rel.rar"}, 1,
         create_heading("rel.r00", "Adding banner file        : rel.sfv\n"),
         "Oh mama! rel.r00 exists and is no .sfv file, I won't overwrite it ... :-(\n"},

        {"ListOnAFullDevice", {file("a.r00", "abc")}, {"-c", "/dev/full", "a.r00"}, 1, create_heading("/dev/full"),
         "Oh mama! We can't write to /dev/full" + CANT_WRITE_TAIL},

        {"ListInAMissingDirectory", {file("a.r00", "abc")}, {"-c", "no/such/x.sfv", "a.r00"}, 1,
         create_heading("no/such/x.sfv"), "Oh mama! We can't write to no/such/x.sfv" + CANT_WRITE_TAIL},

        {"ListPathLongerThan250IsRefusedNotCut", {file(cut_list, "unrelated"), file("a.r00", "abc")},
         {"-c", long_list, "a.r00"}, 1, create_heading(long_list),
         "Oh mama! We can't write to " + long_list + CANT_WRITE_TAIL},

        {"ListPathOf250IsTaken", {file("a.r00", "abc")}, {"-c", cut_list, "a.r00"}, 0,
         create_heading(cut_list) + adding("a.r00", "abc") + created(1), "",
         std::vector<Entry>{file("a.r00", "abc"), file(cut_list, GENERATED + entry_line("a.r00", "abc"))}},

        {"OperandTooLongForAnEntryLine", {file("a.r00", "x"), file("ab.r00", "y")},
         {"-c", "x.sfv", entry_too_long, entry_fits}, 1, create_heading("x.sfv") + adding(entry_fits, "x") + created(1),
         "Oh mama! " + entry_too_long + " is too long for an SFV line ... omitting!\n",
         std::vector<Entry>{file("a.r00", "x"), file("ab.r00", "y"),
                            file("x.sfv", GENERATED + entry_line(entry_fits, "x"))}},

        {"OperandTooLongForADateLine", {file("d1.nfo", "x"), file("d12.nfo", "y"), file("a.r00", "abc")},
         {"-c", "-d", "x.sfv", date_too_long, date_fits, "a.r00"}, 1,
         create_heading("x.sfv", "Adding files' times & dates to SFV file\n") + adding("a.r00", "abc") + created(1),
         "Oh mama! " + date_too_long + " is too long for an SFV line ... omitting!\n",
         std::vector<Entry>{file("d1.nfo", "x"), file("d12.nfo", "y"), file("a.r00", "abc"),
                            file("x.sfv", GENERATED + dated("1", date_fits) + dated("3", "a.r00") +
                                              ";\r\n" + entry_line("a.r00", "abc"))}},

        {"SizeOfAFileOver4GiBIsShownWhole", {[] {
             Entry big = file("big.nfo", "");
             big.sparse_size = 5368709120;
             return big;
         }()},
         {"-c", "-d", "x.sfv", "big.nfo"}, 0,
         create_heading("x.sfv", "Adding files' times & dates to SFV file\n") + created(0), "",
         std::vector<Entry>{[] {
                                Entry big = file("big.nfo", "");
                                big.sparse_size = 5368709120;
                                return big;
                            }(),
                            file("x.sfv", GENERATED + dated("5368709120", "big.nfo") + ";\r\n")}},

        {"TimeAfter2038IsReadAndShown", {late_volume()}, {"-c", "-d", "x.sfv", "late.r00"}, 0,
         create_heading("x.sfv", "Adding files' times & dates to SFV file\n") + adding("late.r00", V001) + created(1),
         "",
         std::vector<Entry>{late_volume(), file("x.sfv", GENERATED + "; " + std::string(11, ' ') + "9  12:34.56 2040-02-29 late.r00\r\n" +
                                                              ";\r\n" + entry_line("late.r00", V001))}},

        four_jobs_case(),
    };
}

} // namespace

ZANTRA_CLI_CASES(Create, create_cases);

} // namespace zantra_cli
