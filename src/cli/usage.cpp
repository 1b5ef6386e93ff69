#include "cli/usage.h"

#include "console/console.h"

#include <cstdio>
#include <string>

namespace zantra
{

void print_help(const char* invocation_name)
{
    const std::string shown_name = shown(invocation_name != nullptr ? invocation_name : "zantra");
    const char* name = shown_name.c_str();
    std::printf("\nUsage: %s mode [option] sfv-filename [filename...]\n\n", name);
    std::fputs("Possible modes: -c : create SFV file (only read .rar file as default, see -a)\n"
               "                -t : test single file(s) (multiple filenames possible)\n"
               "                -T : test whole SFV file\n"
               "                -m : count missing files\n"
               "Options:        -l <filename> : use <filename> as banner file (create mode)\n"
               "                -w : Win-SFV emulation mode                   (create mode)\n"
               "                -a : add all files to .sfv (even .nfo etc.)   (create mode)\n"
               "                -d : add files' dates & times to SFV file     (create mode)\n"
               "                -g : glftpd mode     (counting and test whole mode)\n\n"
               "Examples:\n",
               stdout);
    std::printf("(1) Create test.sfv and add test.* to it       : %s -c test.sfv test.*\n", name);
    std::printf("(2) Check file test.r02 against CRC in test.sfv: %s -t test.sfv test.r02\n", name);
    std::printf("(3) Check all files listed in test.sfv         : %s -T test.sfv\n", name);
    std::printf("(4) Count number of files missing of test.sfv  : %s -m test.sfv\n", name);
    std::fputs("(5) Create myrls.sfv with myrls.* in it, use Win-SFV compatibility mode and file\n",
               stdout);
    std::printf("/tmp/mylogo.nfo as banner: %s -c -w -l /tmp/mylogo.nfo myrls.sfv myrls.*\n", name);
    std::fputs("\n"
               "Read documentation files for more help and check for updates regularily!\n\n",
               stdout);
}

} // namespace zantra
