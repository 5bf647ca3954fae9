// The output opener's usage text, exactly as it must appear on standard error;
// shared by the opener's tests and the program's "-h" tests.
#ifndef MORROWTIDE_TESTS_LAS_OPENER_USAGE_TEXT_H
#define MORROWTIDE_TESTS_LAS_OPENER_USAGE_TEXT_H

#include <string>

inline const std::string kOpenerUsage =
    "Supported LAS Outputs\n"
    "  -o lidar.las\n"
    "  -o lidar.qdx\n"
    "  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n"
    "  -o terrasolid.bin\n"
    "  -o nasa.qi\n"
    "  -odir C:/data/ground (specify output directory)\n"
    "  -odix _classified (specify file name appendix)\n"
    "  -ocut 2 (cut the last two characters from name)\n"
    "  -olas -oqdx -otxt -obin -oqfit (specify format)\n"
    "  -stdout (pipe to stdout)\n"
    "  -nil    (pipe to NULL)\n";

#endif  // MORROWTIDE_TESTS_LAS_OPENER_USAGE_TEXT_H
