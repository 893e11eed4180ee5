// program_start: what a program of this project settles before it opens
// any file.
#pragma once

// Makes sure that descriptors 0, 1 and 2 are open, opening /dev/null in
// place of each one that is closed: otherwise the first file opened would
// get a standard descriptor, and reports meant for the error or output
// stream would be written into it.  Also ignores SIGXFSZ, so that a write
// beyond the file-size limit fails as a write and the caller's handling of
// failed writes runs, instead of the program being killed in mid-write.
// Returns false when a closed descriptor cannot be opened; the program must
// then end without opening any file.
[[nodiscard]] bool prepare_program_start();
