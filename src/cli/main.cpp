#include "cli/zantra.h"

int main(int argc, char* argv[])
{
    return zantra::zantra_main(argc, argv);
}
