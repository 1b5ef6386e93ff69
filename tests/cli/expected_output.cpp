#include "expected_output.h"

namespace zantra_cli
{

std::vector<Entry> with(std::vector<Entry> entries, const std::vector<Entry>& more)
{
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

std::string entry_line(const std::string& name, const std::string& content)
{
    return name + " " + crc_of(content) + "\r\n";
}

std::string completion(const std::string& percent)
{
    return "[" + percent + "%]-[-all.files.CRC.ok-]";
}

Entry started()
{
    return dir(completion("000"));
}

std::string status_line(const std::string& percent)
{
    return "Completion Status: " + completion(percent) + "\n";
}

std::string fatal(const std::string& name)
{
    return "\nFatal error: cannot read file: " + name + "\n";
}

std::string create_heading(const std::string& list, const std::string& mode_lines)
{
    return BANNER + "\nCreating new checksum file: " + list + "\n" + mode_lines + "\n";
}

std::string adding(const std::string& name, const std::string& content)
{
    return "Adding file: " + name + " ... CRC = 0x" + crc_of(content) + "\n";
}

std::string adding_missing(const std::string& name)
{
    return "Adding file: " + name + " ... MISSING\n";
}

std::string created(int files)
{
    return "\nSFV file successfully created (" + std::to_string(files) +
           " files processed) ...\n\n";
}

std::string tested(const std::string& operand, const std::string& local, const std::string& listed,
                   const std::string& verdict)
{
    return "Testing " + operand + " ... local = 0x" + local + ", listed = 0x" + listed + " - " +
           verdict + "\n";
}

std::string not_listed(const std::string& operand, const std::string& local)
{
    return "Testing " + operand + " ... local = 0x" + local + ", listed = MISSING\n";
}

std::string t_summary(int tested_count, int ok, int bad, int missing)
{
    return "\n" + std::to_string(tested_count) + " file(s) tested - " + std::to_string(ok) +
           " OK - " + std::to_string(bad) + " bad - " + std::to_string(missing) + " missing...\n";
}

std::string whole_heading(const std::string& list, bool glftpd)
{
    return BANNER + "\nProcessing complete check of " + list + " ...\n" +
           (glftpd ? "Using glftpd mode\n" : "");
}

std::string checked(const std::string& name, const std::string& listed, const std::string& local,
                    const std::string& verdict)
{
    return "Testing " + name + " ... listed = 0x" + listed + " ... local = 0x" + local + " ... " +
           verdict + "\n";
}

std::string checked(const std::string& name, const std::string& listed_content,
                    const std::string& content)
{
    const std::string listed = crc_of(listed_content), local = crc_of(content);
    return checked(name, listed, local, listed == local ? "OK" : "BAD");
}

std::string absent(const std::string& name, const std::string& listed)
{
    return "Testing " + name + " ... listed = 0x" + listed + " ... Local = MISSING\n";
}

std::string whole_summary(int count, int ok, int bad, int missing)
{
    return "\n" + std::to_string(count) + " file(s) tested - " + std::to_string(ok) + " OK - " +
           std::to_string(bad) + " bad - " + std::to_string(missing) + " missing ...\n\n";
}

std::string count_heading(bool glftpd)
{
    return BANNER + "\nPerforming completion check...\n" + (glftpd ? "Using glftpd mode\n" : "");
}

std::string count_table(int listed, int local, int missing)
{
    auto column = [](int n) {
        std::string text = std::to_string(n);
        return text + std::string(text.size() < 4 ? 4 - text.size() : 0, ' ');
    };
    return "[total files listed] [local files] [missing files]\n" + column(listed) +
           std::string(17, ' ') + column(local) + std::string(10, ' ') + column(missing) + "\n";
}

} // namespace zantra_cli
