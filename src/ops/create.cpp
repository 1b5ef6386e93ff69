// -c: create a list from the file operands.

#include "checksum/file_checksum.h"
#include "checksum/parallel_reader.h"
#include "console/console.h"
#include "list/list_file_reader.h"
#include "list/list_format.h"
#include "list/list_line_rules.h"
#include "list/names.h"
#include "ops/operations.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zantra
{
namespace
{

// Why an operand is left out of the list.
enum class Refusal {
    none,
    too_long,      // a line of it would not fit one read of a list
    not_read_back, // a line of it would read back as something else: a comment, or two lines
};

// What the run will do with one file operand, decided before anything is written.
struct PlannedOperand {
    const std::string* name = nullptr;
    bool listed = false; // an archive volume, or -a
    Refusal refusal = Refusal::none;
    std::string date_line; // with -d
};

// Archive volumes are recognised by ".r", ".R" or ".0" anywhere in the operand as typed.
bool is_archive_volume(std::string_view operand)
{
    return operand.find(".r") != std::string_view::npos ||
           operand.find(".R") != std::string_view::npos ||
           operand.find(".0") != std::string_view::npos;
}

// The date line of an operand whose status `info` holds, or, when `known` is false, of one
// that cannot be stat-ed: that shows 0 bytes and the epoch.
std::string date_line_of(const std::string& operand, bool known, const struct stat& info)
{
    if (!known)
        return format_date_line(0, 0, operand);
    return format_date_line(static_cast<std::int64_t>(info.st_size), info.st_mtime, operand);
}

// A list must give back every line it is given: an operand whose entry line would begin like
// a comment would silently never be tested, a line feed inside an operand would end its line
// early and make the rest an entry line of its own choosing, and blanks or tabs that end an
// operand are read back as the padding before its CRC.
Refusal refusal_of(const PlannedOperand& planned, bool add_dates)
{
    const std::string entry = format_entry_line(*planned.name, 0);
    if ((planned.listed && !fits_one_read(entry)) ||
        (add_dates && !fits_one_read(planned.date_line)))
        return Refusal::too_long;
    if ((planned.listed && !reads_back_as_entry(entry, *planned.name)) ||
        (add_dates && !reads_back_whole(planned.date_line)))
        return Refusal::not_read_back;
    return Refusal::none;
}

// The operands in order, each with what will be done with it. An operand that is the list
// being written (`list`), however it is spelled, is passed over as one that is no archive
// volume is: its CRC would be that of the list's first lines, never of what the list ends up.
std::vector<PlannedOperand> plan_operands(const RunOptions& options, const struct stat& list)
{
    std::vector<PlannedOperand> plan;
    plan.reserve(options.files.size());
    for (const std::string& operand : options.files) {
        struct stat info {
        };
        const bool known = stat(operand.c_str(), &info) == 0;
        if (known && info.st_dev == list.st_dev && info.st_ino == list.st_ino)
            continue;
        PlannedOperand planned;
        planned.name = &operand;
        planned.listed = options.add_all_files || is_archive_volume(operand);
        if (options.add_dates)
            planned.date_line = date_line_of(operand, known, info);
        planned.refusal = refusal_of(planned, options.add_dates);
        plan.push_back(std::move(planned));
    }
    return plan;
}

void print_heading(const RunOptions& options)
{
    std::printf("\nCreating new checksum file: %s\n", shown(options.list_path).c_str());
    if (options.use_banner)
        std::printf("Adding banner file        : %s\n", shown(options.banner_path).c_str());
    if (options.win_sfv_mode)
        std::printf("Using compatibility mode  : Win-SFV\n");
    if (options.add_all_files)
        std::printf("Add-all-files mode active\n");
    if (options.add_dates)
        std::printf("Adding files' times & dates to SFV file\n");
    std::printf("\n");
}

// Writes `text` to the list; false when the stream has failed.
bool put(std::FILE* list, std::string_view text)
{
    return std::fwrite(text.data(), 1, text.size(), list) == text.size();
}

// A banner is read up to this many bytes; the rest of a larger one is never read.
constexpr std::size_t BANNER_READ_MAX = std::size_t{1} << 20;

enum class BannerCopy {
    copied,       // every line, up to BANNER_READ_MAX bytes
    cannot_read,  // not opened, or a read failed
    write_failed, // the list could not take a line
};

// Copies the first BANNER_READ_MAX bytes of the banner file into the list as comment lines,
// each line as soon as it is read, so that a banner of any size costs one line of memory. When
// a read fails part-way, the lines already copied are taken out again where the list can be
// cut back (a regular file), so that the banner is omitted whole.
BannerCopy copy_banner(std::FILE* list, const std::string& path)
{
    const FileHandle banner = open_text_file(path);
    if (!banner)
        return BannerCopy::cannot_read;
    const off_t start = ftello(list); // what is still buffered included: nothing is flushed
    LineReader reader;
    reader.file = banner.get();
    std::string piece;
    for (std::size_t read = 0; read < BANNER_READ_MAX && read_piece(reader, piece);) {
        if (piece.size() > BANNER_READ_MAX - read)
            piece.resize(BANNER_READ_MAX - read);
        read += piece.size();
        if (!put(list, format_banner_line(piece)))
            return BannerCopy::write_failed;
    }
    if (!std::ferror(banner.get()))
        return BannerCopy::copied;
    if (start >= 0 && std::fflush(list) == 0 && ftruncate(fileno(list), start) == 0)
        (void)fseeko(list, start, SEEK_SET);
    return BannerCopy::cannot_read;
}

// Everything before the entry lines: generated-by line, banner lines, date block.
bool write_header(std::FILE* list, const RunOptions& options,
                  const std::vector<PlannedOperand>& plan)
{
    bool ok = put(list, format_generated_by(options.win_sfv_mode, std::time(nullptr)));
    if (options.use_banner) {
        const BannerCopy banner = copy_banner(list, options.banner_path);
        if (banner == BannerCopy::cannot_read)
            print_message("Oh mama! I couldn't find logo file %s ... omitting!\n",
                          shown_in_message(options.banner_path).c_str());
        ok = ok && banner != BannerCopy::write_failed;
    }
    if (options.add_dates) {
        for (const PlannedOperand& planned : plan)
            if (planned.refusal == Refusal::none)
                ok = ok && put(list, planned.date_line);
        ok = ok && put(list, DATE_BLOCK_END);
    }
    return ok && std::fflush(list) == 0;
}

// The list opened for writing, or why it was not.
struct ListOpening {
    std::FILE* file = nullptr;
    bool refused = false;   // a file of someone's is where the list would go
    std::string temp_path;  // where a list that replaces another is written; empty: in place
    struct stat list_file { // the list, as an operand that names it would be
    };
};

// True when `path` ends in ".sfv", letters folded.
bool has_list_suffix(std::string_view path)
{
    return path.size() >= 4 && equal_folded(path.substr(path.size() - 4), ".sfv");
}

// Creates a file of its own beside the list at `path`, with the mode of the list it will replace
// (`old`), under a name no other file has; -1 when none can be made.
int create_beside(const std::string& path, const struct stat& old, std::string& temp_path)
{
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = directory + ".zantra-" + std::to_string(getpid()) + "-" +
                    std::to_string(attempt) + ".tmp";
        const int fd =
            open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 && fchmod(fd, old.st_mode & 07777) == 0)
            return fd;
        if (fd >= 0) {
            close(fd);
            (void)unlink(temp_path.c_str());
        }
        if (fd >= 0 || errno != EEXIST)
            break;
    }
    temp_path.clear();
    return -1;
}

// Creates or empties the list at `path` in place (anything but a regular file there: nothing, a
// FIFO, a device, a symbolic link). The open does not wait for a FIFO's reader: one with no
// reader cannot be written, and the run ends instead of stopping.
void open_in_place(const std::string& path, ListOpening& opening)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    const int flags = fcntl(fd, F_GETFL);
    const bool known = flags >= 0 && fstat(fd, &opening.list_file) == 0;
    const bool regular = known && S_ISREG(opening.list_file.st_mode);
    opening.refused = regular && opening.list_file.st_size > 0 && !has_list_suffix(path);
    if (known && !opening.refused && (!regular || ftruncate(fd, 0) == 0) &&
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        opening.file = fdopen(fd, "w");
    if (opening.file == nullptr)
        close(fd);
}

// Opens the list for writing. A regular file already at `path` is replaced whole at the end
// (finish_list): the new list is written beside it, so that a full disk, a file-size limit or a
// kill leaves the old list as it was, never a part of the new one. One that holds bytes is
// replaced only when its name ends in ".sfv": any other is an archive volume or a text named
// where the list belongs by mistake, and is refused untouched.
ListOpening create_list_file(const std::string& path)
{
    ListOpening opening;
    if (path.size() > LIST_NAME_MAX)
        return opening;
    struct stat old {
    };
    if (lstat(path.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) {
        open_in_place(path, opening);
        return opening;
    }
    opening.list_file = old;
    opening.refused = old.st_size > 0 && !has_list_suffix(path);
    if (opening.refused)
        return opening;
    const int fd = create_beside(path, old, opening.temp_path);
    if (fd >= 0 && (opening.file = fdopen(fd, "w")) == nullptr) {
        close(fd);
        (void)unlink(opening.temp_path.c_str());
    }
    return opening;
}

// Closes the list and, when it was written beside the old one, puts it in the old one's place;
// when anything failed, the file written beside is removed and the old list stays whole. True
// when the list is written and in place.
bool finish_list(const ListOpening& opening, const std::string& path, bool written)
{
    written = std::fclose(opening.file) == 0 && written;
    if (opening.temp_path.empty())
        return written;
    written = written && std::rename(opening.temp_path.c_str(), path.c_str()) == 0;
    if (!written)
        (void)unlink(opening.temp_path.c_str());
    return written;
}

// The files the run reads, in the order it reads them.
std::vector<ReadRequest> reads_of(const std::vector<PlannedOperand>& plan)
{
    std::vector<ReadRequest> reads;
    for (const PlannedOperand& planned : plan)
        if (planned.listed && planned.refusal == Refusal::none)
            reads.push_back(ReadRequest{*planned.name});
    return reads;
}

void print_refusal(const PlannedOperand& planned)
{
    if (planned.refusal == Refusal::too_long)
        print_message("Oh mama! %s is too long for an SFV line ... omitting!\n",
                      shown_in_message(*planned.name).c_str());
    else
        print_message("Oh mama! %s cannot be read back from an SFV line ... omitting!\n",
                      shown_in_message(*planned.name).c_str());
}

void print_cannot_write(const std::string& list_path)
{
    print_message("Oh mama! We can't write to %s (check permissions!), aborting ...\n",
                  shown_in_message(list_path).c_str());
}

} // namespace

int run_create(const RunOptions& options)
{
    print_heading(options);
    std::fflush(stdout);
    const ListOpening opening = create_list_file(options.list_path);
    std::FILE* list = opening.file;
    if (opening.refused)
        print_message("Oh mama! %s exists and is no .sfv file, I won't overwrite it ... :-(\n",
                      shown_in_message(options.list_path).c_str());
    else if (list == nullptr)
        print_cannot_write(options.list_path);
    if (list == nullptr)
        return 1;

    const std::vector<PlannedOperand> plan = plan_operands(options, opening.list_file);
    bool written = write_header(list, options, plan);
    ParallelReader reader(reads_of(plan), written ? options.jobs : 1);
    std::size_t turn = 0; // the next of the reader's files
    int processed = 0;
    int status = 0;
    for (std::size_t i = 0; written && i < plan.size(); ++i) {
        const PlannedOperand& planned = plan[i];
        if (planned.refusal != Refusal::none) {
            print_refusal(planned);
            status = 1;
            continue;
        }
        if (!planned.listed)
            continue;
        std::printf("Adding file: %s ... ", shown(*planned.name).c_str());
        std::fflush(stdout);
        const std::optional<std::uint32_t> crc = reader.take(turn++).crc;
        if (!crc) {
            print_cannot_read(*planned.name);
            std::printf("MISSING\n");
            status = 1;
            continue;
        }
        std::printf("CRC = 0x%08" PRIX32 "\n", *crc);
        written = put(list, format_entry_line(*planned.name, *crc)) && std::fflush(list) == 0;
        if (written)
            ++processed;
    }
    if (!finish_list(opening, options.list_path, written)) {
        print_cannot_write(options.list_path);
        return 1;
    }
    std::printf("\nSFV file successfully created (%d files processed) ...\n\n", processed);
    return status;
}

} // namespace zantra
